// What the run asks of the system before it writes anything, and its lock, on POSIX.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace {

// The descriptor that holds the run's lock; the system releases it with the process too.
int g_run_lock_fd = -1;

}  // namespace

// An open file never stops its deletion or replacement here.
bool platform_file_held(const char*) { return false; }

std::int64_t platform_entry_size(const char* path) {
    struct stat status {};
    if (lstat(path, &status) != 0) return ENTRY_NONE;
    if (S_ISDIR(status.st_mode)) return ENTRY_FOLDER;
    return S_ISREG(status.st_mode) ? static_cast<std::int64_t>(status.st_size) : 0;
}

std::int64_t platform_free_space(const char* path) {
#ifdef ORV_FAULT_INJECTION
    // Test builds: a volume as full as the tests need.
    if (const char* free_bytes = std::getenv("ORV_FAULT_FREE_SPACE")) return std::strtoll(free_bytes, nullptr, 10);
#endif
    struct statvfs volume {};
    if (statvfs(path, &volume) != 0) return -1;
    // f_bavail: the blocks left to a user who is not root.
    const unsigned long long bytes = static_cast<unsigned long long>(volume.f_bavail) * volume.f_frsize;
    return bytes > static_cast<unsigned long long>(INT64_MAX) ? INT64_MAX : static_cast<std::int64_t>(bytes);
}

bool platform_temporary_folder(char* buffer, std::uint32_t capacity) {
    const char* named = std::getenv("TMPDIR");
    if (named == nullptr || named[0] == '\0') named = "/tmp";
    // Resolved as the current directory is, so that the two compare.
    char* resolved = realpath(named, nullptr);
    if (resolved == nullptr) return false;
    const std::size_t length = std::strlen(resolved);
    const bool fits = length < capacity;
    if (fits) std::memcpy(buffer, resolved, length + 1);
    std::free(resolved);
    return fits;
}

RunLock platform_lock_run(const char* path) {
    if (g_run_lock_fd >= 0) return RUN_LOCK_TAKEN;
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return RUN_LOCK_UNAVAILABLE;
    // Never waits for the lock, so no signal can interrupt it.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        close(fd);
        return held ? RUN_LOCK_HELD_ELSEWHERE : RUN_LOCK_UNAVAILABLE;
    }
    g_run_lock_fd = fd;
    return RUN_LOCK_TAKEN;
}

void platform_unlock_run() {
    if (g_run_lock_fd < 0) return;
    close(g_run_lock_fd);   // the lock goes with the descriptor
    g_run_lock_fd = -1;
}

void platform_begin_work() {}
void platform_end_work() {}
