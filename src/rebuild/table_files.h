// The rebuild tables as the three .tsv files hold them: read by the tests and the
// maintainers' tools, written by extract-rebuild-tables. The program itself has the
// values compiled in (rebuild_tables.h).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct TargetRow {
    std::string name;
    std::uint32_t sector;   // from the relocated block's first sector
    std::uint32_t size;     // in 2048-byte sectors
};

struct SourceRow {
    std::string name;
    std::uint32_t sector;   // from the base sector of the European image
};

struct RebuildTableFiles {
    std::vector<TargetRow> targets;                     // target order
    std::vector<SourceRow> sources;                     // source order
    std::vector<std::vector<std::uint32_t>> bank_sets;  // sets 1 to 9 at indices 0 to 8
    std::string error;                                  // empty when every file was read
};

inline constexpr std::array<const char*, 3> TABLE_FILE_NAMES = {
    "relocation_targets.tsv", "relocation_sources.tsv", "sound_banks.tsv"};

// Reads the three files from `folder`; '#' lines and empty lines are skipped.
RebuildTableFiles read_table_files(const std::string& folder);

// The texts of the three files, in the order of TABLE_FILE_NAMES, each opening with
// `origin` as a comment line (it must not hold a line break) and its column line.
std::array<std::string, 3> format_table_files(const RebuildTableFiles& tables, const std::string& origin);
