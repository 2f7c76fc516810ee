// Writes the three table files so that OUTDIR holds either all three new files or its
// old contents: each goes to a temporary name in OUTDIR first and is renamed into place
// only when all three are complete on disk.
#pragma once

#include <array>
#include <string>

bool is_writable_folder(const char* path);

// `texts` in the order of TABLE_FILE_NAMES. On failure every temporary file is gone.
bool write_table_files_atomically(const std::string& folder, const std::array<std::string, 3>& texts,
                                  std::string* error);
