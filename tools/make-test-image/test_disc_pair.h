// A US and a European test image that carry real ISO 9660 file systems laid out from a
// set of rebuild tables: the US image's files at their target places in the relocated
// block, the European image's at their source places, header sectors at the offset
// tables' places in the US image's bank ranges, and both identification byte sets.
// Sparse: only descriptors, directories, headers and identification bytes are written.
#pragma once

#include <string>

#include "rebuild/table_files.h"

// The tables compiled into the program.
RebuildTableFiles shipped_rebuild_tables();

// With `joliet`, the names live in a Joliet tree, and the primary tree has flat 8.3
// stand-ins ("F0000017.BIN"), as a disc mastered for both would.
bool write_test_disc_pair(const std::string& us_path, const std::string& eu_path, const RebuildTableFiles& tables,
                          std::string* error, bool joliet = false);
