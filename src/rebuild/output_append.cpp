#include "rebuild/output_append.h"

#include <algorithm>
#include <cstdlib>

#include "platform/platform.h"

namespace {
// Zero runs are written from one small buffer, so a long run never needs a buffer
// of its own size.
constexpr std::uint32_t ZERO_PIECE_SIZE = 1u << 20;
}  // namespace

bool append_bytes(int output_fd, const std::uint8_t* data, std::uint32_t count) {
    if (count == 0) return true;
    return platform_write(output_fd, data, count) == static_cast<std::int64_t>(count);
}

bool append_zero_bytes(int output_fd, std::uint32_t count) {
    if (count == 0) return true;
    const std::uint32_t piece = std::min(count, ZERO_PIECE_SIZE);
    auto* zeros = static_cast<std::uint8_t*>(std::calloc(piece, 1));
    if (zeros == nullptr) return false;
    bool ok = true;
    for (std::uint32_t left = count; ok && left > 0;) {
        const std::uint32_t n = std::min(left, piece);
        ok = append_bytes(output_fd, zeros, n);
        left -= n;
    }
    std::free(zeros);
    return ok;
}
