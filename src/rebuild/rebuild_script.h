// The 68-step script that turns the European image into the intermediate image.
#pragma once

#include <cstdint>

#include "rebuild/image_writer.h"

inline constexpr std::uint32_t INTERMEDIATE_IMAGE_SIZE = 2599682048u;
// The European image the script reads; no range of it lies past this size.
inline constexpr std::uint64_t EUROPEAN_IMAGE_SIZE = 2669969408u;

// Runs every step in order. True when the whole intermediate image was written;
// false as soon as a step fails (the caller then deletes the partial image).
bool rebuild_intermediate_image(const WriterValues& writer);
