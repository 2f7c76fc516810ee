// The shipped rebuild tables, read at run time by the tests (the program has them
// compiled in).
#pragma once

#include <string>

#include "rebuild/table_files.h"

// Reads the three files from `folder` (the source tree's src/rebuild by default).
inline RebuildTableFiles read_rebuild_table_files(const std::string& folder = ORV_REBUILD_TABLE_DIR) {
    return read_table_files(folder);
}
