// Byte-range reads of disc images and the open helpers.
#pragma once

#include <cstdint>

// Reads `length` bytes from byte `offset` of the file into a new malloc'd buffer, or
// the whole file when `length` is 0 (`offset` is then not used); a range that passes
// the end of the file is shortened to it. Uses the descriptor in `*slot` when it is
// open (at any position: the read seeks to its start), opens `path` read-only
// otherwise, and always closes it and leaves -1 in the slot.
// Returns 1 with `*buffer` and `*count` set on success (a whole-file read of an empty
// file gives count 0 and a non-null buffer that must be freed too). Returns 0 with
// `*buffer` null and `*count` 0 when the file cannot be opened, its length cannot be
// taken, `length` is not 0 and `offset` is at or past the end of the file, a
// whole-file read meets a file of 4 GiB or more, the buffer cannot be allocated,
// fewer bytes than expected arrive (the file shrank or a read failed), or the close
// fails: nothing is read or allocated on false grounds.
int read_file_range(int* slot, const char* path, std::uint8_t** buffer, std::uint32_t* count,
                    std::uint32_t length, std::uint64_t offset);

// Opens `path` in mode 0 (read), 1 (write, existing file) or 2 (read and write,
// existing file), binary. The descriptor, negative on failure, goes into `*slot`.
// Returns 1.
int open_with_mode(int* slot, const char* path, int mode);

// Creates `path`, or truncates it, for binary writing. The descriptor, negative on
// failure, goes into `*slot`. Returns 1.
int create_file_for_writing(int* slot, const char* path);
