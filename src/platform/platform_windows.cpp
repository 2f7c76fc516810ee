// The platform contract over the Windows directory services and the C runtime.
#include "platform/windows_headers.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/console_input.h"
#include "platform/fault_injection.h"
#include "platform/file_failure.h"
#include "platform/hold_wait.h"
#include "platform/interruption.h"
#include "platform/wide_names.h"

static_assert(3 * (MAX_PATH - 1) + 1 <= LISTING_NAME_CAPACITY, "a listed name must fit a ListingEntry in UTF-8");

namespace {

// The C runtime's _read and _write take unsigned counts but return int: stay well
// below INT_MAX per call.
constexpr std::uint32_t MAX_TRANSFER = 1u << 30;

HANDLE as_find_handle(ListingHandle listing) { return reinterpret_cast<HANDLE>(listing); }

// False when the name is not valid UTF-16: the entry is then passed over.
bool fill_entry(const WIN32_FIND_DATAW& data, ListingEntry* entry) {
    // cFileName is MAX_PATH units and always terminated; the conversion is bounded by
    // the entry's own capacity.
    if (!from_wide_name(data.cFileName, entry->name, LISTING_NAME_CAPACITY)) return false;
    entry->is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // The find data holds the reparse tag in dwReserved0 (callers clear it first).
    entry->is_link = is_link_entry(data.dwFileAttributes, data.dwReserved0);
    return true;
}

// The listing's next entry that has a UTF-8 name; false at its end.
bool next_named_entry(HANDLE find, ListingEntry* entry) {
    for (;;) {
        WIN32_FIND_DATAW data{};
        if (!FindNextFileW(find, &data)) return false;
        if (fill_entry(data, entry)) return true;
    }
}

}  // namespace

bool is_link_entry(std::uint32_t attributes, std::uint32_t reparse_tag) {
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
    // Junctions and folder links name another place and can lead back up the tree: never
    // followed. Other reparse points, such as the placeholder folders of cloud storage,
    // are ordinary folders to the player. Wine reports its links with no tag at all (0,
    // a value no real reparse point has): they count as links too.
    return reparse_tag == 0 || IsReparseTagNameSurrogate(reparse_tag);
}

ListingHandle platform_open_listing(ListingEntry* entry) {
    WIN32_FIND_DATAW data{};
    const HANDLE find = FindFirstFileW(L"*", &data);
    if (find == INVALID_HANDLE_VALUE) return LISTING_NONE;
    if (!fill_entry(data, entry) && !next_named_entry(find, entry)) {
        FindClose(find);
        return LISTING_NONE;   // nothing in it the program could name
    }
    return reinterpret_cast<ListingHandle>(find);
}

bool platform_next_entry(ListingHandle listing, ListingEntry* entry) {
    if (listing == LISTING_NONE) return false;
    return next_named_entry(as_find_handle(listing), entry);
}

void platform_close_listing(ListingHandle listing) {
    if (listing != LISTING_NONE) FindClose(as_find_handle(listing));
}

std::uint32_t platform_get_current_directory(char* buffer, std::uint32_t capacity) {
    if (buffer == nullptr || capacity == 0) return 0;
    buffer[0] = '\0';
    WideName wide;
    const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(WIDE_NAME_CAPACITY), wide.text);
    // 0 is a failure; a value of the capacity or more is the size the text would need.
    if (length == 0 || length >= WIDE_NAME_CAPACITY) return 0;
    if (!from_wide_name(wide.text, buffer, capacity)) return 0;
    return static_cast<std::uint32_t>(std::strlen(buffer));
}

bool platform_set_current_directory(const char* path) {
    WideName wide;
    return to_wide_name(path, &wide) && SetCurrentDirectoryW(wide.text) != 0;
}

// ---- Low-level descriptors ----------------------------------------------------


int platform_open(const char* path, FileOpenMode mode) {
    if (file_call_action(FAULT_OPEN, fault_role_of_name(path)) != FAULT_ACTION_NONE) {
        errno = EIO;
        record_file_failure(FAILURE_OTHER);
        return -1;
    }
    WideName wide;
    if (!to_wide_name(path, &wide)) {
        errno = ENOENT;   // no file has a name that is not UTF-8
        record_file_failure(FAILURE_OTHER);
        return -1;
    }
    DWORD access = GENERIC_WRITE;
    DWORD disposition = CREATE_ALWAYS;
    DWORD flags = FILE_ATTRIBUTE_NORMAL;
    int descriptor_flags = _O_BINARY;
    switch (mode) {
        case OPEN_READ_ONLY:
            access = GENERIC_READ;
            disposition = OPEN_EXISTING;
            descriptor_flags |= _O_RDONLY;
            break;
        case OPEN_CREATE_TRUNCATE: break;
        // Never through a link: anything of that name makes it fail.
        case OPEN_CREATE_NEW: disposition = CREATE_NEW; flags |= FILE_FLAG_OPEN_REPARSE_POINT; break;
        default: errno = EINVAL; record_file_failure(FAILURE_OTHER); return -1;
    }
    Backoff backoff = backoff_start(HOLD_PATIENCE_MS);
    HANDLE file = INVALID_HANDLE_VALUE;
    // Shared for reading and writing, as the C runtime shares its own files; not inherited.
    while ((file = CreateFileW(wide.text, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition, flags,
                               nullptr)) == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // A new file waits while the old one of its name is held, its deletion pending.
        if (mode != OPEN_CREATE_NEW || !may_pass_later(error, wide.text) || !backoff_wait(&backoff)) {
            errno = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT : EACCES;
            record_file_failure(failure_from_windows_error(error));
            return -1;
        }
    }
    const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(file), descriptor_flags);
    if (fd < 0) {
        // No descriptor left: the handle goes, and the file with it when this call made it.
        CloseHandle(file);
        if (mode == OPEN_CREATE_NEW) DeleteFileW(wide.text);
        record_file_failure(FAILURE_OTHER);
    }
    fault_note_opened(fd, path);
    return fd;
}

std::FILE* platform_fcreate_new(const char* path) {
    const int fd = platform_open(path, OPEN_CREATE_NEW);
    if (fd < 0) return nullptr;
    std::FILE* stream = _fdopen(fd, "wb");
    if (stream == nullptr) {
        // The file is this call's own: it goes with the descriptor.
        fault_note_closed(fd);
        _close(fd);
        platform_remove(path);
    }
    return stream;
}

std::int64_t platform_read(int fd, void* buffer, std::uint32_t count) {
    const FaultAction fault = file_call_action(FAULT_READ, fault_role_of_descriptor(fd));
    if (fault == FAULT_ACTION_FAIL) {
        errno = EIO;
        return -1;
    }
    if (fault == FAULT_ACTION_SHORT) count = fault_short_count(count);
    unsigned char* bytes = static_cast<unsigned char*>(buffer);
    std::uint32_t done = 0;
    while (done < count) {
        const std::uint32_t ask = count - done < MAX_TRANSFER ? count - done : MAX_TRANSFER;
        const int got = _read(fd, bytes + done, ask);
        if (got < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (got == 0) break;  // end of file
        done += static_cast<std::uint32_t>(got);
    }
    return static_cast<std::int64_t>(done);
}

std::int64_t platform_write(int fd, const void* buffer, std::uint32_t count) {
    const FaultAction fault = file_call_action(FAULT_WRITE, fault_role_of_descriptor(fd));
    if (fault == FAULT_ACTION_FAIL) {
        errno = EIO;
        record_file_failure(FAILURE_OTHER);
        return -1;
    }
    if (fault == FAULT_ACTION_SHORT) count = fault_short_count(count);
    const unsigned char* bytes = static_cast<const unsigned char*>(buffer);
    std::uint32_t done = 0;
    while (done < count) {
        // Pieces, as on Linux: a write of many megabytes from a buffer the processor has
        // not cached costs the system more per byte.
        constexpr auto piece = static_cast<std::uint32_t>(WRITE_PIECE_SIZE);
        const std::uint32_t ask = count - done < piece ? count - done : piece;
        _doserrno = 0;
        const int put = _write(fd, bytes + done, ask);
        if (put < 0) {
            if (errno == EINTR) continue;
            // The system's own error when there was one: it tells a lock from a refusal.
            record_file_failure(_doserrno != 0 ? failure_from_windows_error(_doserrno) : failure_from_errno(errno));
            return -1;
        }
        if (put == 0) {
            record_file_failure(FAILURE_NO_SPACE);   // a full disk: the caller sees the shortfall
            break;
        }
        done += static_cast<std::uint32_t>(put);
    }
    return static_cast<std::int64_t>(done);
}

std::int64_t platform_seek(int fd, std::int64_t offset, int origin) {
    if (platform_fault(FAULT_SEEK, fault_role_of_descriptor(fd)) != FAULT_ACTION_NONE) {
        errno = EIO;
        return -1;
    }
    return static_cast<std::int64_t>(_lseeki64(fd, offset, origin));
}

int platform_close(int fd) {
    const bool fail = platform_fault(FAULT_CLOSE, fault_role_of_descriptor(fd)) != FAULT_ACTION_NONE;
    fault_note_closed(fd);
    const int result = _close(fd);
    return fail ? -1 : result;
}

std::int64_t platform_file_length(int fd) {
    // The 64-bit form: _filelength is negative for a 2.6 GB image.
    return static_cast<std::int64_t>(_filelengthi64(fd));
}

int platform_flush_to_disk(std::FILE* stream) {
    if (file_call_action(FAULT_SYNC, fault_role_of_stream(stream)) != FAULT_ACTION_NONE) {
        errno = EIO;
        record_file_failure(FAILURE_OTHER);
        return -1;
    }
    errno = 0;
    if (std::fflush(stream) != 0) {
        record_file_failure(errno != 0 ? failure_from_errno(errno) : FAILURE_OTHER);
        return -1;
    }
    const std::intptr_t handle = _get_osfhandle(_fileno(stream));
    if (handle == -1) {
        record_file_failure(FAILURE_OTHER);
        return -1;
    }
    if (!fault_count_sync(fault_role_of_stream(stream), FlushFileBuffers(reinterpret_cast<HANDLE>(handle)) != 0)) {
        record_file_failure(failure_from_windows_error(GetLastError()));
        return -1;
    }
    return 0;
}

// ---- Interruption -------------------------------------------------------------

namespace {

// Runs on a thread of its own that the console starts for each event.
BOOL WINAPI on_console_event(DWORD event) {
    if (files_guarded.load() == 0) {
        restore_console_input();   // no file at risk (the search, the prompt): the console as found
        return FALSE;              // the default handler ends the process
    }
    interrupt_raised.store(1);
    // The program ends once the run has cleaned up, with no prompt: the console as it was found.
    restore_console_input();
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        return TRUE;  // the run stops on its own and cleans up
    }
    // Closing the window, logging off, shutting down: the process ends as soon as
    // this returns, so give the run the few seconds Windows allows to delete its files.
    for (int waited = 0; waited < 90 && files_guarded.load() != 0; ++waited) {
        Sleep(50);
    }
    return TRUE;
}

}  // namespace

void platform_install_interrupt_handler() { SetConsoleCtrlHandler(on_console_event, TRUE); }
