#include "test_image_layout.h"

#include <cstring>

void make_stamp(std::uint8_t stamp[STAMP_SIZE], std::uint64_t offset, std::uint64_t seed) {
    std::memcpy(stamp, "ORVS", 4);
    for (int i = 0; i < 8; ++i) stamp[4 + i] = static_cast<std::uint8_t>(offset >> (8 * i));
    for (int i = 0; i < 4; ++i) stamp[12 + i] = static_cast<std::uint8_t>(seed >> (8 * i));
}

void fill_pseudo_random(std::uint8_t* bytes, std::uint32_t length, std::uint64_t& state) {
    std::uint32_t at = 0;
    while (at < length) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        const std::uint32_t take = length - at < 8 ? length - at : 8;
        std::memcpy(bytes + at, &state, take);
        at += take;
    }
}
