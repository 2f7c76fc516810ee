// The console on POSIX systems: UTF-8 out as it is, one key in from a terminal.
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "platform/console_input.h"
#include "platform/platform.h"

namespace {

// Written before `terminal_changed` is set, read by the signal handler after.
struct termios saved_terminal {};
std::atomic<int> terminal_changed{0};

}  // namespace

void platform_write_console(const char* utf8, std::size_t length) {
    std::fwrite(utf8, 1, length, stdout);
    std::fflush(stdout);
}

void restore_console_input() {
    // tcsetattr is async-signal-safe.
    if (terminal_changed.load() != 0) tcsetattr(STDIN_FILENO, TCSANOW, &saved_terminal);
}

void platform_prepare_for_key() {
    struct termios settings {};
    if (isatty(STDIN_FILENO) == 0 || tcgetattr(STDIN_FILENO, &settings) != 0) return;
    saved_terminal = settings;
    terminal_changed.store(1);
    // Byte by byte and silent; signals keep their keys, so Ctrl+C still ends the program.
    settings.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    // TCSAFLUSH drops what was typed during the run: only a key pressed at the prompt counts.
    if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &settings) != 0) {
        restore_console_input();
        terminal_changed.store(0);
    }
}

void platform_wait_for_key() {
    if (terminal_changed.load() == 0) {
        std::getchar();
        return;
    }
    unsigned char key = 0;
    while (read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) {
    }
    restore_console_input();
    terminal_changed.store(0);
}
