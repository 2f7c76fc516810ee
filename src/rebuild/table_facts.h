// Everything known for certain about the rebuild tables: counts, orders, bounds,
// totals and the rows that tell. The tables test and extract-rebuild-tables both check
// the tables with this one function, so the two can never disagree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "rebuild/table_files.h"

struct FactFailure {
    std::string fact;       // a short, stable name, e.g. "target gaps"
    std::string found;
    std::string expected;
};

// The relocated block in the intermediate image (and so in the US image).
inline constexpr std::uint32_t RELOCATED_BLOCK_FIRST_SECTOR = 652841;
inline constexpr std::uint32_t RELOCATED_BLOCK_SECTORS = 401413;
inline constexpr std::size_t FIRST_BANK_STEP = 49;  // index of the step of bank set 1

// Byte offset in the intermediate image where step `step_index` (0 to 67) writes its
// first byte, the relocated block counted at its known length.
std::uint64_t rebuild_step_output_offset(std::size_t step_index);

// A name the tables can hold: 12 to 39 characters of [A-Za-z0-9_.-] with one to
// three '/' between non-empty components.
bool name_fits_table_shape(const std::string& name);

// Every fact that does not hold, in a fixed order; empty when the tables are sound.
std::vector<FactFailure> check_table_facts(const RebuildTableFiles& tables);
