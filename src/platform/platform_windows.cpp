// The platform contract over the Windows directory services and the C runtime.
#include "platform/windows_headers.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "platform/console_input.h"
#include "platform/fault_injection.h"
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

namespace {

int open_wide(const wchar_t* path, FileOpenMode mode) {
    const int binary = _O_BINARY | _O_NOINHERIT;
    switch (mode) {
        case OPEN_READ_ONLY: return _wopen(path, _O_RDONLY | binary);
        case OPEN_CREATE_TRUNCATE: return _wopen(path, _O_WRONLY | _O_CREAT | _O_TRUNC | binary, _S_IREAD | _S_IWRITE);
        case OPEN_CREATE_NEW: return _wopen(path, _O_WRONLY | _O_CREAT | _O_EXCL | binary, _S_IREAD | _S_IWRITE);
    }
    errno = EINVAL;
    return -1;
}

}  // namespace

int platform_open(const char* path, FileOpenMode mode) {
    if (file_call_action(FAULT_OPEN, fault_role_of_name(path)) != FAULT_ACTION_NONE) {
        errno = EIO;
        return -1;
    }
    WideName wide;
    if (!to_wide_name(path, &wide)) {
        errno = ENOENT;   // no file has a name that is not UTF-8
        return -1;
    }
    const int fd = open_wide(wide.text, mode);
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
        const int put = _write(fd, bytes + done, ask);
        if (put < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (put == 0) break;  // a full disk: the caller sees the shortfall
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

int platform_remove(const char* path) {
    WideName name{};
    if (!to_wide_name(path, &name)) {
        errno = ENOENT;
        return -1;
    }
    // The name itself is opened (a link is not followed), and that very entry is deleted:
    // what a link leads to is never reached, and nothing can be swapped in between.
    const HANDLE entry = CreateFileW(name.text, DELETE | FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (entry == INVALID_HANDLE_VALUE) {
        errno = EACCES;
        return -1;
    }
    FILE_ATTRIBUTE_TAG_INFO kind{};
    bool removable = GetFileInformationByHandleEx(entry, FileAttributeTagInfo, &kind, sizeof kind) != 0;
    // A folder goes only when it is a link (a folder link, a junction): a real one stays.
    if (removable && (kind.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        removable = is_link_entry(kind.FileAttributes, kind.ReparseTag);
    }
    FILE_DISPOSITION_INFO disposition{TRUE};
    removable = removable && SetFileInformationByHandle(entry, FileDispositionInfo, &disposition, sizeof disposition);
    CloseHandle(entry);   // the entry goes now
    if (!removable) {
        errno = EACCES;
        return -1;
    }
    return 0;
}

int platform_rename_replacing(const char* from, const char* to) {
    if (file_call_action(FAULT_RENAME, fault_role_of_name(from)) != FAULT_ACTION_NONE) {
        errno = EIO;
        return -1;
    }
    WideName old_name{};
    WideName new_name{};
    if (!to_wide_name(from, &old_name) || !to_wide_name(to, &new_name)) {
        errno = ENOENT;
        return -1;
    }
    // Write-through: the call returns once the move is on the disk.
    constexpr DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    if (!MoveFileExW(old_name.text, new_name.text, flags)) {
        errno = EACCES;
        return -1;
    }
    // A failing flush of the folder stands for a write-through the disk did not finish:
    // the file has its new name, not yet confirmed on the disk.
    if (platform_fault(FAULT_SYNC, ROLE_FOLDER) != FAULT_ACTION_NONE) {
        errno = EIO;
        return -1;
    }
    fault_count_sync(ROLE_FOLDER, (flags & MOVEFILE_WRITE_THROUGH) != 0);
    return 0;
}

int platform_flush_to_disk(std::FILE* stream) {
    if (file_call_action(FAULT_SYNC, fault_role_of_stream(stream)) != FAULT_ACTION_NONE) {
        errno = EIO;
        return -1;
    }
    if (std::fflush(stream) != 0) return -1;
    const std::intptr_t handle = _get_osfhandle(_fileno(stream));
    if (handle == -1) return -1;
    const FaultRole role = fault_role_of_stream(stream);
    return fault_count_sync(role, FlushFileBuffers(reinterpret_cast<HANDLE>(handle)) != 0) ? 0 : -1;
}

// ---- Interruption -------------------------------------------------------------

namespace {

// Runs on a thread of its own that the console starts for each event.
BOOL WINAPI on_console_event(DWORD event) {
    if (files_guarded.load() == 0) {
        restore_console_input();   // ended at the closing prompt: leave the console as found
        return FALSE;              // the default handler ends the process
    }
    interrupt_raised.store(1);
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
