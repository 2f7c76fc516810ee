// The CRC-32 of a whole disc image, the figure players compare their dumps with.
#pragma once

#include <cstdint>

// The CRC-32 (the standard one: zlib's, as dump tools show it) of the file at `path`,
// read from end to end with a progress line. False when the file cannot be read whole.
bool image_crc32(const char* path, std::uint32_t* crc);
