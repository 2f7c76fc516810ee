// Byte-range reads of disc images and the open helpers.
#include "fs/file_access.h"

#include <algorithm>
#include <cstdlib>

#include "platform/platform.h"

namespace {

// Closes the slot's descriptor, leaves -1 in it and tells whether the close worked.
bool close_slot(int* slot) {
    const bool closed = platform_close(*slot) == 0;
    *slot = -1;
    return closed;
}

// How many bytes the range asks of a file of `file_length` bytes; false when nothing
// can be read on sound grounds.
bool range_count(std::int64_t file_length, std::uint32_t length, std::uint64_t offset,
                 std::uint32_t* count) {
    const std::uint64_t size = static_cast<std::uint64_t>(file_length);
    // A range that starts at or past the end holds none of the bytes asked for.
    if (offset >= size) return false;
    const std::uint64_t available = size - offset;
    *count = available < length ? static_cast<std::uint32_t>(available) : length;
    return true;
}

}  // namespace

int read_file_range(int* slot, const char* path, std::uint8_t** buffer, std::uint32_t* count,
                    std::uint32_t length, std::uint64_t offset) {
    *buffer = nullptr;
    *count = 0;
    if (*slot < 0) {
        *slot = platform_open(path, OPEN_READ_ONLY);
        if (*slot < 0) {
            *slot = -1;
            return 0;
        }
    }

    const std::int64_t file_length = platform_file_length(*slot);
    std::uint32_t wanted = 0;
    if (file_length < 0 || !range_count(file_length, length, offset, &wanted)) {
        close_slot(slot);
        return 0;
    }
    // At least one byte, so that an empty range is no failed allocation.
    auto* bytes = static_cast<std::uint8_t*>(std::malloc(std::max<std::size_t>(wanted, 1)));
    if (bytes == nullptr) {
        close_slot(slot);
        return 0;
    }
    const bool read_all =
        // An absolute seek also copes with a descriptor handed over at another position.
        platform_seek(*slot, static_cast<std::int64_t>(offset), SEEK_SET) == static_cast<std::int64_t>(offset) &&
        platform_read(*slot, bytes, wanted) == static_cast<std::int64_t>(wanted);
    // A failed close is reported too, even after a complete read.
    const bool closed = close_slot(slot);
    if (!read_all || !closed) {
        std::free(bytes);
        return 0;
    }
    *buffer = bytes;
    *count = wanted;
    return 1;
}

std::int64_t read_file_at(int fd, std::uint64_t offset, std::uint8_t* buffer, std::uint32_t length) {
    if (platform_seek(fd, static_cast<std::int64_t>(offset), SEEK_SET) != static_cast<std::int64_t>(offset)) return -1;
    return platform_read(fd, buffer, length);
}

int open_with_mode(int* slot, const char* path, int mode) {
    *slot = mode == 0 ? platform_open(path, OPEN_READ_ONLY) : -1;
    return 1;
}

