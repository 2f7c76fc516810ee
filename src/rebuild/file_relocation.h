// Moves named files from their European sectors into one block of output sectors.
#pragma once

#include <cstddef>
#include <cstdint>

#include "rebuild/image_writer.h"

struct RelocationTarget {
    const char* name;
    std::uint32_t sector;   // first sector inside the block
    std::uint32_t size;     // sectors taken in the block and copied
};

struct RelocationSource {
    const char* name;
    std::uint32_t sector;   // first sector in the source image, from the base sector
};

struct RelocationTables {
    const RelocationTarget* targets;    // in target order; an empty name also ends the list
    std::size_t target_count;
    const RelocationSource* sources;    // searched from the first: the first equal name wins
    std::size_t source_count;
};

// Appends the block: each target at its sector, copied from the source of the same
// name (zeros when no source has it), zeros in the gaps. False at the first failed
// read or write, or for a target that overlaps the one before it or whose bytes
// cannot be addressed in 32 bits.
bool relocate_files(std::uint32_t base_sector, const RelocationTables& tables,
                    const WriterValues& writer);
