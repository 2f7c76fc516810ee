// Byte-range reads of disc images and the open helpers.
#pragma once

#include <cstdint>

// Reads `length` bytes from byte `offset` of the file into a new malloc'd buffer; a
// range that passes the end of the file is shortened to it. Uses the descriptor in
// `*slot` when it is open (at any position: the read seeks to its start), opens `path`
// read-only otherwise, and always closes it and leaves -1 in the slot.
// Returns 1 with `*buffer` and `*count` set on success (the buffer is never null and
// must be freed). Returns 0 with `*buffer` null and `*count` 0 when the file cannot be
// opened, its length cannot be taken, `offset` is at or past the end of the file, the
// buffer cannot be allocated, fewer bytes than expected arrive (the file shrank or a
// read failed), or the close fails: nothing is read or allocated on false grounds.
int read_file_range(int* slot, const char* path, std::uint8_t** buffer, std::uint32_t* count,
                    std::uint32_t length, std::uint64_t offset);

// Reads `length` bytes from byte `offset` of the open file `fd` into `buffer`. Returns
// how many arrived (fewer only where the file ends), -1 when the seek or the read fails.
std::int64_t read_file_at(int fd, std::uint64_t offset, std::uint8_t* buffer, std::uint32_t length);

// Opens `path` for reading, binary, in mode 0 (the only mode; any other fails). The
// descriptor, negative on failure, goes into `*slot`. Returns 1.
int open_with_mode(int* slot, const char* path, int mode);
