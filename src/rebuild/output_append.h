// Raw appends to the intermediate image, without counting or progress.
#pragma once

#include <cstdint>

// True when all `count` bytes were written.
bool append_bytes(int output_fd, const std::uint8_t* data, std::uint32_t count);
bool append_zero_bytes(int output_fd, std::uint32_t count);
