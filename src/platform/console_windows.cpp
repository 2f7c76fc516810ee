// The console on Windows: the exact characters on a console, code page 850 bytes when
// the output is redirected, QuickEdit off while the run works, one key in from a console.
#include "platform/windows_headers.h"

#include <io.h>

#include <atomic>
#include <cstdio>

#include "platform/console_input.h"
#include "platform/platform.h"
#include "text/code_page_850.h"

namespace {

// Text goes out in pieces of at most this many bytes, cut between characters.
constexpr std::size_t PIECE_BYTES = 1024;

// The input mode the console had before the work or the wait changed it, for the console's
// control thread too.
std::atomic<DWORD> saved_input_mode{0};
std::atomic<int> input_mode_changed{0};
// Whether the work turned QuickEdit off, and whether it keeps the system awake (a state of
// the thread that asked: the main one).
std::atomic<int> quick_edit_turned_off{0};
bool keeping_awake = false;

bool is_console(HANDLE handle, DWORD* mode) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, mode) != 0;
}

// Decided once: standard output does not change during the run.
bool output_is_console() {
    static const bool console = [] {
        DWORD mode = 0;
        return is_console(GetStdHandle(STD_OUTPUT_HANDLE), &mode);
    }();
    return console;
}

// The length of the next piece of `text`, never ending inside a character.
std::size_t piece_length(const char* text, std::size_t length) {
    if (length <= PIECE_BYTES) return length;
    std::size_t end = PIECE_BYTES;
    while (end > PIECE_BYTES - 3 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return end;
}

void write_to_console(const char* utf8, std::size_t length) {
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    // A character never takes fewer UTF-16 units than UTF-8 bytes; malformed bytes
    // become U+FFFD.
    wchar_t wide[PIECE_BYTES];
    const int units = MultiByteToWideChar(CP_UTF8, 0, utf8, static_cast<int>(length), wide, PIECE_BYTES);
    for (int done = 0; done < units;) {
        DWORD written = 0;
        if (!WriteConsoleW(output, wide + done, static_cast<DWORD>(units - done), &written, nullptr) ||
            written == 0) {
            return;
        }
        done += static_cast<int>(written);
    }
}

// Redirected output: the bytes a console reading code page 850 shows right, with
// "\r\n" line ends from the C runtime's text mode, as scripts that capture it expect.
// Straight to the descriptor: stdout is unbuffered on a character device such as NUL,
// where the stream would hand the system one byte at a time.
void write_redirected(const char* utf8, std::size_t length) {
    char bytes[PIECE_BYTES];
    const std::size_t count = utf8_to_code_page_850(utf8, length, bytes);
    const int descriptor = _fileno(stdout);
    for (std::size_t done = 0; done < count;) {
        const int written = _write(descriptor, bytes + done, static_cast<unsigned>(count - done));
        if (written <= 0) return;
        done += static_cast<std::size_t>(written);
    }
}

// Keeps the mode the console had before the program first changed it; false when standard
// input is not a console. `mode` receives the mode it has now.
bool save_input_mode(HANDLE input, DWORD* mode) {
    if (!is_console(input, mode)) return false;
    if (input_mode_changed.load() != 0) return true;
    saved_input_mode.store(*mode);
    input_mode_changed.store(1);
    return true;
}

// `mode` with ENABLE_EXTENDED_FLAGS, so that setting it sets QuickEdit and insert mode too. A
// mode read without that flag does not show them (the console shows them once a program has
// set them): they get the console's default then, on.
DWORD with_extended_flags(DWORD mode) {
    if ((mode & ENABLE_EXTENDED_FLAGS) != 0) return mode;
    return mode | ENABLE_EXTENDED_FLAGS | ENABLE_QUICK_EDIT_MODE | ENABLE_INSERT_MODE;
}

// A key press that the player makes on purpose: not Shift, Ctrl, Alt or a lock alone.
bool is_key_press(const INPUT_RECORD& record) {
    if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) return false;
    switch (record.Event.KeyEvent.wVirtualKeyCode) {
        case VK_SHIFT: case VK_CONTROL: case VK_MENU: case VK_CAPITAL: case VK_NUMLOCK: case VK_SCROLL:
        case VK_LWIN: case VK_RWIN:
            return false;
        default:
            return true;
    }
}

}  // namespace

void platform_write_console(const char* utf8, std::size_t length) {
    const bool console = output_is_console();
    while (length > 0) {
        const std::size_t piece = piece_length(utf8, length);
        if (console) {
            write_to_console(utf8, piece);
        } else {
            write_redirected(utf8, piece);
        }
        utf8 += piece;
        length -= piece;
    }
}

void restore_console_input() {
    if (input_mode_changed.load() == 0) return;
    SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE),
                   quick_edit_turned_off.load() != 0 ? with_extended_flags(saved_input_mode.load())
                                                     : saved_input_mode.load());
}

void platform_begin_work() {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (!save_input_mode(input, &mode)) return;
    // With QuickEdit on, a click in the window starts a selection, and every write to the
    // console then waits until the selection ends: the run would stop until a key is pressed.
    quick_edit_turned_off.store(1);
    SetConsoleMode(input, with_extended_flags(mode) & ~static_cast<DWORD>(ENABLE_QUICK_EDIT_MODE));
    // Nor may the system sleep under a run left to work on its own.
    keeping_awake = SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) != 0;
}

void platform_end_work() {
    restore_console_input();
    input_mode_changed.store(0);
    quick_edit_turned_off.store(0);
    if (keeping_awake) SetThreadExecutionState(ES_CONTINUOUS);
    keeping_awake = false;
}

void platform_prepare_for_key() {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (!save_input_mode(input, &mode)) return;
    // No line editing and no echo; processed input stays, so Ctrl+C still ends the program.
    if (!SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT))) {
        restore_console_input();
        input_mode_changed.store(0);
        return;
    }
    // Only a key pressed at the prompt counts, not one typed during the run.
    FlushConsoleInputBuffer(input);
}

void platform_wait_for_key() {
    if (input_mode_changed.load() == 0) {
        std::getchar();
        return;
    }
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    INPUT_RECORD record{};
    DWORD read = 0;
    while (ReadConsoleInputW(input, &record, 1, &read) && !(read == 1 && is_key_press(record))) {
    }
    restore_console_input();
    input_mode_changed.store(0);
}
