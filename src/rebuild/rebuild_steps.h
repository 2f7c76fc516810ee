// The rebuild script as data: 68 steps run in order, each appending to the output.
#pragma once

#include <cstddef>
#include <cstdint>

enum class RebuildStepKind : std::uint8_t { ZEROS, COPY, RELOCATE, SOUND_BANKS };

struct RebuildStep {
    RebuildStepKind kind;
    std::uint32_t source_offset;    // COPY and SOUND_BANKS: where the range or region begins
    std::uint32_t length;           // ZEROS and COPY: bytes; SOUND_BANKS: the region's length
    std::uint32_t end_value;        // SOUND_BANKS: bytes the set writes
    std::uint8_t bank_set;          // SOUND_BANKS: 0 to 8
};

inline constexpr std::size_t REBUILD_STEP_COUNT = 68;
inline constexpr std::uint32_t RELOCATION_BASE_SECTOR = 7303;

extern const RebuildStep REBUILD_STEPS[REBUILD_STEP_COUNT];
