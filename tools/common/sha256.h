// SHA-256, so that tools and tests can name a multi-gigabyte file by a short digest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct Sha256 {
    std::uint32_t state[8];
    std::uint64_t total_bytes;
    std::uint8_t block[64];
    std::size_t block_fill;
};

void sha256_start(Sha256& hash);
void sha256_add(Sha256& hash, const void* bytes, std::size_t length);
// The digest as 64 lower-case hex digits.
std::string sha256_finish(Sha256& hash);
