// A full-size stand-in for the European image, and what the rebuild must make of it.
//
// Every sector the rebuild can read carries a 16-byte stamp at its start and another
// at its end, both holding the sector's own byte offset, so any output sector tells
// where it came from. Bank header sectors sit a few sectors away from where the
// target offsets would put them, so the pieces only come out right if the scan
// finds them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "rebuild_table_files.h"

inline constexpr std::uint64_t SYNTHETIC_EU_SIZE = 2669969408u;
inline constexpr std::uint64_t SYNTHETIC_BOOT_PATH_OFFSET = 12693144u;
inline constexpr char SYNTHETIC_BOOT_PATH[] = "cdrom0:\\SXES_608.42;1";  // 22 bytes with the NUL
// The rebuild reads nothing past this byte; the rest of the image is left sparse.
inline constexpr std::uint64_t SYNTHETIC_STAMPED_END = 0x9DE41000u;

struct SyntheticBankRegion {
    std::uint32_t offset;
    std::uint32_t length;
    std::uint32_t end_value;
};
extern const SyntheticBankRegion SYNTHETIC_BANK_REGIONS[9];

// Region-relative byte offsets where the banks of set `set` (0 to 8) begin.
std::vector<std::uint64_t> synthetic_bank_starts(std::size_t set,
                                                 const std::vector<std::uint32_t>& offsets);

// The 2048 bytes of source sector `sector` (without the boot path).
void synthetic_sector(std::uint64_t sector, int header_kind, std::uint8_t* out);

// Writes the image; false when the file cannot be written.
bool write_synthetic_eu_image(const std::string& path, const RebuildTableFiles& tables);

// The intermediate image as runs of output bytes, front to back: each either zeros
// or a copy of the source image from `source_offset`. Worked out from the layout
// alone, without running any part of the rebuild.
struct ExpectedRun {
    std::uint64_t length;
    bool zeros;
    std::uint64_t source_offset;
};
std::vector<ExpectedRun> expected_intermediate_layout(const RebuildTableFiles& tables);
