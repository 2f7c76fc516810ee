// A full-size stand-in for the European image, and what the rebuild must make of it.
// Every sector the rebuild reads carries its own byte offset at its start and end, so
// any output sector tells where it came from. Bank header sectors sit a few sectors
// from where the target offsets put them: the pieces come out right only if the scan
// finds them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "rebuild/table_files.h"

inline constexpr std::uint64_t SYNTHETIC_EU_SIZE = 2669969408u;

// Writes the image (sparse past what the rebuild reads); false when it cannot.
bool write_synthetic_eu_image(const std::string& path, const RebuildTableFiles& tables);

// The intermediate image as runs, front to back: zeros, or a copy of the source image
// from `source_offset`. Worked out from the layout alone, without the rebuild's code.
struct ExpectedRun {
    std::uint64_t length;
    bool zeros;
    std::uint64_t source_offset;
};
std::vector<ExpectedRun> expected_intermediate_layout(const RebuildTableFiles& tables);
