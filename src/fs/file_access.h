// Byte-range reads of disc images and the open helpers.
#pragma once

#include <cstdint>

// Reads `length` bytes from byte `offset` of the file into a new malloc'd buffer, or
// the whole file when `length` is 0; a range that passes the end of the file is
// shortened to it. Uses the descriptor in `*slot` when it is open (its position must
// be 0), opens `path` read-only otherwise, and always closes it and leaves -1 in
// the slot.
// Returns 1 with `*buffer` and `*count` set on success. Returns 0 with `*buffer`
// null and `*count` 0 when the file cannot be opened, its length cannot be taken,
// `offset` lies past its end, the buffer cannot be allocated or fewer bytes than
// expected arrive: nothing is read or allocated on false grounds.
int read_file_range(int* slot, const char* path, std::uint8_t** buffer, std::uint32_t* count,
                    std::uint32_t length, std::uint64_t offset);

// Opens `path` in mode 0 (read), 1 (write, existing file) or 2 (read and write,
// existing file), binary. The descriptor, negative on failure, goes into `*slot`.
// Returns 1.
int open_with_mode(int* slot, const char* path, int mode);

// Creates `path`, or truncates it, for binary writing. The descriptor, negative on
// failure, goes into `*slot`. Returns 1.
int create_file_for_writing(int* slot, const char* path);
