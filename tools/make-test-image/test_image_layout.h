// What a test image holds: its size, its identification bytes, and the stamps and
// pseudo-random bytes that fill it.
#pragma once

#include <cstdint>

inline constexpr std::uint64_t STAMP_INTERVAL = 1u << 20;
inline constexpr std::uint32_t STAMP_SIZE = 16;

struct IdentificationBytes {
    std::uint64_t offset;
    const char* bytes;
    std::uint32_t length;
};

struct TestImageLayout {
    std::uint64_t size;
    IdentificationBytes identification[2];
};

// The boot paths include their terminating zero byte.
inline constexpr TestImageLayout US_TEST_IMAGE = {
    2599682048u, {{13093328, "cdrom0:\\SXUS_907.31;1", 22}, {14500752, "\x82\x62\x82\x81", 4}}};
inline constexpr TestImageLayout EU_TEST_IMAGE = {2669969408u, {{12693144, "cdrom0:\\SXES_608.42;1", 22}, {0, "", 0}}};

// "ORVS", the stamp's offset (8 bytes, little-endian) and the low 4 bytes of the seed.
void make_stamp(std::uint8_t stamp[STAMP_SIZE], std::uint64_t offset, std::uint64_t seed);
// Fills `length` bytes from a xorshift generator whose state carries over calls.
void fill_pseudo_random(std::uint8_t* bytes, std::uint32_t length, std::uint64_t& state);
