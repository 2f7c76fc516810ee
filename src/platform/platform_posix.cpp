// The platform contract over POSIX, for Linux builds and tests.
#include "platform/platform.h"

#include <dirent.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/console_input.h"
#include "platform/fault_injection.h"
#include "platform/file_failure.h"
#include "platform/interruption.h"

static_assert(sizeof(off_t) >= 8, "disc images need 64-bit file offsets");

namespace {

DIR* as_dir(ListingHandle listing) { return reinterpret_cast<DIR*>(listing); }

// Fills `entry` from the listing's next readdir record; false at the end or on error.
bool read_entry(DIR* dir, ListingEntry* entry) {
    for (;;) {
        errno = 0;
        const dirent* record = readdir(dir);
        if (record == nullptr) return false;
        const std::size_t length = std::strlen(record->d_name);
        // NAME_MAX always fits; anything longer could not be named back anyway.
        if (length >= LISTING_NAME_CAPACITY) continue;
        std::memcpy(entry->name, record->d_name, length + 1);

        unsigned char type = record->d_type;
        if (type == DT_UNKNOWN) {
            // Some file systems leave the type out: ask for it without following links.
            struct stat status {};
            if (fstatat(dirfd(dir), record->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0) {
                if (S_ISDIR(status.st_mode)) type = DT_DIR;
                else if (S_ISLNK(status.st_mode)) type = DT_LNK;
                else type = DT_REG;
            }
        }
        entry->is_link = type == DT_LNK;
        entry->is_directory = type == DT_DIR;
        if (entry->is_link) {
            // Report what the link leads to; the walk still never follows it.
            struct stat target {};
            entry->is_directory = fstatat(dirfd(dir), record->d_name, &target, 0) == 0 &&
                                  S_ISDIR(target.st_mode);
        }
        return true;
    }
}

}  // namespace

ListingHandle platform_open_listing(ListingEntry* entry) {
    DIR* dir = opendir(".");
    if (dir == nullptr) return LISTING_NONE;
    if (!read_entry(dir, entry)) {
        // Not even "." was listed: the folder is unreadable.
        closedir(dir);
        return LISTING_NONE;
    }
    return reinterpret_cast<ListingHandle>(dir);
}

bool platform_next_entry(ListingHandle listing, ListingEntry* entry) {
    if (listing == LISTING_NONE) return false;
    return read_entry(as_dir(listing), entry);
}

void platform_close_listing(ListingHandle listing) {
    if (listing != LISTING_NONE) closedir(as_dir(listing));
}

std::uint32_t platform_get_current_directory(char* buffer, std::uint32_t capacity) {
    if (buffer == nullptr || capacity == 0) return 0;
    if (getcwd(buffer, capacity) == nullptr) {
        buffer[0] = '\0';
        return 0;
    }
    return static_cast<std::uint32_t>(std::strlen(buffer));
}

bool platform_set_current_directory(const char* path) { return chdir(path) == 0; }

// ---- Low-level descriptors ----------------------------------------------------

namespace {

// One counted open, retried when a signal cuts it short, unless the run was interrupted:
// -1 then, as on any failure or an armed fault.
int open_counted(const char* path, int flags, mode_t permissions) {
    if (file_call_action(FAULT_OPEN, fault_role_of_name(path)) != FAULT_ACTION_NONE) {
        errno = EIO;
        if ((flags & (O_WRONLY | O_RDWR | O_CREAT)) != 0) record_file_failure(FAILURE_OTHER);
        return -1;
    }
    int fd = -1;
    do {
        fd = open(path, flags | O_CLOEXEC, permissions);
    } while (fd < 0 && errno == EINTR && !interrupt_pending());
    if (fd < 0 && (flags & (O_WRONLY | O_RDWR | O_CREAT)) != 0) record_file_failure(failure_from_errno(errno));
    fault_note_opened(fd, path);
    return fd;
}

}  // namespace

int platform_open(const char* path, FileOpenMode mode) {
    int flags = 0;
    switch (mode) {
        case OPEN_READ_ONLY: flags = O_RDONLY; break;
        case OPEN_CREATE_TRUNCATE: flags = O_WRONLY | O_CREAT | O_TRUNC; break;
        // O_EXCL with O_CREAT never follows a link: a link named like the file fails too.
        case OPEN_CREATE_NEW: flags = O_WRONLY | O_CREAT | O_EXCL; break;
        default: errno = EINVAL; return -1;
    }
    // 0700 as the C runtime is asked for: the owner may read, write and execute.
    return open_counted(path, flags, S_IRWXU);
}

std::FILE* platform_fcreate_new(const char* path) {
    // The mode an output made by fopen gets (the umask applies): a patched image is a
    // file for the player, not a private one.
    const int fd = open_counted(path, O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0) return nullptr;
    std::FILE* stream = fdopen(fd, "wb");
    if (stream == nullptr) {
        // The file is this call's own: it goes with the descriptor.
        fault_note_closed(fd);
        close(fd);
        unlink(path);
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
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got = read(fd, bytes + done, count - done);
        if (got < 0) {
            if (errno == EINTR && !interrupt_pending()) continue;
            return -1;
        }
        if (got == 0) break;  // end of file
        done += static_cast<std::size_t>(got);
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
    std::size_t done = 0;
    while (done < count) {
        const std::size_t piece = std::min<std::size_t>(count - done, WRITE_PIECE_SIZE);
        const ssize_t put = write(fd, bytes + done, piece);
        if (put < 0) {
            if (errno == EINTR && !interrupt_pending()) continue;
            record_file_failure(failure_from_errno(errno));
            return -1;
        }
        if (put == 0) {
            // Nothing more will go (a full disk): the caller sees the shortfall.
            record_file_failure(FAILURE_NO_SPACE);
            break;
        }
        done += static_cast<std::size_t>(put);
    }
    return static_cast<std::int64_t>(done);
}

std::int64_t platform_seek(int fd, std::int64_t offset, int origin) {
    if (platform_fault(FAULT_SEEK, fault_role_of_descriptor(fd)) != FAULT_ACTION_NONE) {
        errno = EIO;
        return -1;
    }
    return static_cast<std::int64_t>(lseek(fd, static_cast<off_t>(offset), origin));
}

int platform_close(int fd) {
    const bool fail = platform_fault(FAULT_CLOSE, fault_role_of_descriptor(fd)) != FAULT_ACTION_NONE;
    fault_note_closed(fd);
    // Linux releases the descriptor even when close reports EINTR: never retry.
    const int result = close(fd);
    return fail ? -1 : result;
}

std::int64_t platform_file_length(int fd) {
    struct stat status {};
    if (fstat(fd, &status) != 0) return -1;
    return static_cast<std::int64_t>(status.st_size);
}

// unlink, not remove: the C library's remove() also deletes an empty folder, and the
// program must only ever delete files. unlink removes a link itself, never its target.
int platform_remove(const char* path) {
    const int removed = ::unlink(path);
    // Nothing to remove is no failure.
    if (removed != 0 && errno != ENOENT) record_file_failure(failure_from_errno(errno));
    return removed;
}

namespace {

// EINVAL: the file system keeps nothing to write back for this file (it cannot sync):
// nothing was lost, and a finished image must not be thrown away for it.
int sync_descriptor(int fd, FaultRole role) {
    int result = -1;
    do {
        result = fsync(fd);
    } while (result != 0 && errno == EINTR && !interrupt_pending());
    return fault_count_sync(role, result == 0) || errno == EINVAL ? 0 : -1;
}

// A new name reaches the disk with its folder: sync the folder that holds `path`.
int sync_folder_of(const char* path) {
    if (file_call_action(FAULT_SYNC, ROLE_FOLDER) != FAULT_ACTION_NONE) {
        errno = EIO;
        return -1;
    }
    // A buffer of our own, not std::string: its throw helpers would link in the C++
    // runtime's random device, which needs a newer C library than the one we promise.
    char folder[PATH_MAX] = ".";
    const char* last_separator = std::strrchr(path, '/');
    if (last_separator != nullptr) {
        const std::size_t length = last_separator == path ? 1 : static_cast<std::size_t>(last_separator - path);
        if (length >= sizeof folder) {
            errno = ENAMETOOLONG;
            return -1;
        }
        std::memcpy(folder, path, length);
        folder[length] = '\0';
    }
    const int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    const int synced = sync_descriptor(fd, ROLE_FOLDER);
    close(fd);
    return synced;
}

}  // namespace

int platform_rename_replacing(const char* from, const char* to) {
    if (file_call_action(FAULT_RENAME, fault_role_of_name(from)) != FAULT_ACTION_NONE) {
        record_file_failure(FAILURE_OTHER);
        return RENAME_FAILED;
    }
    // rename replaces `to` atomically: a reader sees the old file or the new one, never neither.
    if (::rename(from, to) != 0) {
        record_file_failure(failure_from_errno(errno));
        return RENAME_FAILED;
    }
    if (sync_folder_of(to) != 0) {
        record_file_failure(failure_from_errno(errno));
        return RENAME_NOT_ON_DISK;
    }
    return RENAME_DONE;
}

int platform_flush_to_disk(std::FILE* stream) {
    if (file_call_action(FAULT_SYNC, fault_role_of_stream(stream)) != FAULT_ACTION_NONE) {
        record_file_failure(FAILURE_OTHER);
        return -1;
    }
    if (std::fflush(stream) != 0 || sync_descriptor(fileno(stream), fault_role_of_stream(stream)) != 0) {
        record_file_failure(failure_from_errno(errno));
        return -1;
    }
    return 0;
}

// ---- Interruption -------------------------------------------------------------

namespace {

void on_interrupt(int signal_number) {
    if (files_guarded.load() == 0) {
        // Nothing half-made on disk: end as the signal would have ended us, with the
        // terminal as the closing prompt found it.
        restore_console_input();
        ::signal(signal_number, SIG_DFL);
        ::raise(signal_number);
        return;
    }
    interrupt_raised.store(1);
}

}  // namespace

void platform_install_interrupt_handler() {
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a read or write under way returns EINTR and sees the flag.
    action.sa_flags = 0;
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        sigaction(signal_number, &action, nullptr);
    }
    // A console whose reader has gone (`| head`, a closed terminal pipe) must only make
    // the console writes fail: it must never end the run half-way through its files.
    ::signal(SIGPIPE, SIG_IGN);
}
