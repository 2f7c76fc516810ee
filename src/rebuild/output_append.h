// Raw appends to the intermediate image, without counting or progress.
#pragma once

#include <cstdint>

// Zero runs go to the image in writes of at most this many bytes, from a block of
// zeros of this size that the caller lends.
inline constexpr std::uint32_t ZERO_PIECE_SIZE = 1u << 20;

// True when all `count` bytes were written.
bool append_bytes(int output_fd, const std::uint8_t* data, std::uint32_t count);
// `zeros`: ZERO_PIECE_SIZE zero bytes.
bool append_zero_bytes(int output_fd, std::uint32_t count, const std::uint8_t* zeros);
