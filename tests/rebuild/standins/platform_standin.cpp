// Test-only stand-ins for the few platform calls the rebuild tests use, until the
// platform layer lands: same contracts, POSIX underneath.
#include <fcntl.h>
#include <unistd.h>

#include "platform/platform.h"

int platform_open(const char* path, FileOpenMode mode) {
    switch (mode) {
        case OPEN_READ_ONLY: return ::open(path, O_RDONLY);
        case OPEN_WRITE_ONLY: return ::open(path, O_WRONLY);
        case OPEN_READ_WRITE: return ::open(path, O_RDWR);
        case OPEN_CREATE_TRUNCATE: return ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    return -1;
}

std::int64_t platform_write(int fd, const void* buffer, std::uint32_t count) {
    std::uint32_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd, static_cast<const char*>(buffer) + done, count - done);
        if (n <= 0) return done == 0 ? std::int64_t{-1} : std::int64_t{done};
        done += static_cast<std::uint32_t>(n);
    }
    return done;
}

int platform_close(int fd) { return ::close(fd); }

int platform_remove(const char* path) { return ::unlink(path); }
