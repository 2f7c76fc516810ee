// Appending ranges of the European image and zero runs to the intermediate image.
#pragma once

#include <cstdint>

#include "platform/write_out.h"
#include "rebuild/output_append.h"

inline constexpr std::uint32_t COPY_CHUNK_SIZE = 20971520;  // 20 MiB: one progress line each
inline constexpr std::uint32_t SECTOR_SIZE = 2048;
// Copies go through a piece of this size that stays in the processor's cache, read
// and written in turn, as `dd bs=256K` does: reading each chunk whole into a fresh
// buffer (fresh zeroed pages on Windows) costs about half as much again.
inline constexpr std::uint32_t COPY_PIECE_SIZE = 256 * 1024;
// The rebuild's one buffer: ZERO_PIECE_SIZE bytes of zeros, then the copy piece.
inline constexpr std::uint32_t REBUILD_BUFFER_SIZE = ZERO_PIECE_SIZE + COPY_PIECE_SIZE;

// What every rebuild operation receives from the front end.
struct WriterValues {
    const char* source_path;        // the European image
    int* source_fd;                 // -1 until the first read opens the image; open until end_rebuild_io
    std::uint8_t** buffer;          // the rebuild's buffer, from begin_rebuild_io to end_rebuild_io
    std::uint32_t total;            // denominator of the progress figure
    int output_fd;                  // the intermediate image, appended to
    std::uint32_t* bytes_written;   // running count over the whole rebuild
    std::uint8_t divisor;           // 2: the rebuild fills 0 to 50 %
    WriteOut* write_out;            // the intermediate image's way to the disk; null: left to the system
};

// Around the operations below: begin allocates the buffer they all read and write
// through (false when it cannot); end frees it and closes the image if a read opened
// it, leaving both slots empty, and is false when that close fails (a read may have
// been cut short).
bool begin_rebuild_io(const WriterValues& writer);
bool end_rebuild_io(const WriterValues& writer);

// Each returns true when every byte was read and written; false at the first read or
// write failure, after which the rebuild must stop. A copy that passes the end of the
// image is completed with zeros; one that starts at or past it fails.
bool copy_range(std::uint32_t offset, std::uint32_t length, const WriterValues& writer);
bool write_zeros(std::uint32_t length, const WriterValues& writer);

// Appends `count` bytes of the image from `offset`, without counting or progress; false
// when a read or write fails or the image ends before them.
bool append_image_bytes(std::uint64_t offset, std::uint32_t count, const WriterValues& writer);
// The image's length, opening it if no read has yet; -1 when it cannot be had.
std::int64_t image_length(const WriterValues& writer);
// The parts of the rebuild's buffer: its zeros (ZERO_PIECE_SIZE bytes) and its copy
// piece (COPY_PIECE_SIZE bytes).
const std::uint8_t* rebuild_zeros(const WriterValues& writer);
std::uint8_t* rebuild_copy_piece(const WriterValues& writer);

// After each write: hands what was written to the disk as it goes (false when the disk
// reports an error), then the progress line, counter / total * 100 / divisor, rounded. So
// the line follows the disk, not the system's cache.
bool report_rebuild_progress(const WriterValues& writer);
