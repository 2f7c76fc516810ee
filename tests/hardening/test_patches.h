// Disc images and patches for the runs of the whole program.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "patch_writer.h"

inline constexpr std::uint64_t INTERMEDIATE_SIZE = 2599682048u;

// Regions of real bytes in the otherwise sparse US image, one of them above 2^31, so
// that a copy from the wrong place shows.
struct UsImageRegion {
    std::uint64_t offset;
    std::uint32_t length;
    std::uint32_t seed;
};
inline constexpr UsImageRegion US_REGIONS[] = {{1u << 20, 70000, 21}, {2500000000u, 70000, 22}};

Bytes region_bytes(const UsImageRegion& region);

// The US image of the right size and identification bytes, with US_REGIONS in it.
void make_us_image_with_regions(const std::filesystem::path& path);

// A small US patch: five windows that copy from both regions across source blocks,
// add and run bytes, each with its checksum. `expected` receives the output it makes.
// `bad_checksum_window` >= 0 stores a wrong checksum in that window.
Bytes small_us_patch(Bytes* expected, int bad_checksum_window = -1);

// A patch whose output is the intermediate image itself: COPY windows of 16 MiB over
// all 2,599,682,048 bytes, without checksums. Written straight to `path`.
void write_identity_patch(const std::filesystem::path& path);

void put_bytes(const std::filesystem::path& path, const Bytes& bytes);
