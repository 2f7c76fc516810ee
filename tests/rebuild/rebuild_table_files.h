// The rebuild tables as the .tsv files in the source tree hold them, read at run time
// by the tests (the program has them compiled in).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TargetRow {
    std::string name;
    std::uint32_t sector;
    std::uint32_t size;
};

struct SourceRow {
    std::string name;
    std::uint32_t sector;
};

struct RebuildTableFiles {
    std::vector<TargetRow> targets;
    std::vector<SourceRow> sources;
    std::vector<std::vector<std::uint32_t>> bank_sets;  // sets 1 to 9 at indices 0 to 8
    std::string error;                                  // empty when every file was read
};

// Reads the three files from `folder` (the source tree's src/rebuild by default).
RebuildTableFiles read_rebuild_table_files(const std::string& folder = ORV_REBUILD_TABLE_DIR);
