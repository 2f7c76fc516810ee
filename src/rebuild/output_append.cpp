#include "rebuild/output_append.h"

#include <algorithm>

#include "platform/platform.h"

bool append_bytes(int output_fd, const std::uint8_t* data, std::uint32_t count) {
    if (count == 0) return true;
    return platform_write(output_fd, data, count) == static_cast<std::int64_t>(count);
}

bool append_zero_bytes(int output_fd, std::uint32_t count, const std::uint8_t* zeros) {
    for (std::uint32_t left = count; left > 0;) {
        const std::uint32_t n = std::min(left, ZERO_PIECE_SIZE);
        if (!append_bytes(output_fd, zeros, n)) return false;
        left -= n;
    }
    return true;
}
