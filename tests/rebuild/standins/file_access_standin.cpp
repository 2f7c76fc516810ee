// Test-only stand-in for read_file_range until the file layer lands: same contract.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "fs/file_access.h"

int read_file_range(int* slot, const char* path, std::uint8_t** buffer, std::uint32_t* count,
                    std::uint32_t length, std::uint64_t offset) {
    *buffer = nullptr;
    *count = 0;
    if (*slot < 0) *slot = ::open(path, O_RDONLY);
    if (*slot < 0) return 0;
    const int fd = *slot;
    *slot = -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || static_cast<std::uint64_t>(st.st_size) < offset) {
        ::close(fd);
        return 0;
    }
    const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
    std::uint64_t want = length == 0 ? size : length;
    if (length != 0 && size - offset < want) want = size - offset;
    auto* data = static_cast<std::uint8_t*>(std::malloc(want == 0 ? 1 : want));
    std::uint64_t got = 0;
    while (data != nullptr && got < want) {
        const ssize_t n = ::pread(fd, data + got, want - got, static_cast<off_t>(offset + got));
        if (n <= 0) break;
        got += static_cast<std::uint64_t>(n);
    }
    ::close(fd);
    if (data == nullptr || got != want) {
        std::free(data);
        return 0;
    }
    *buffer = data;
    *count = static_cast<std::uint32_t>(want);
    return 1;
}
