// Appending ranges of the European image and zero runs to the intermediate image.
#pragma once

#include <cstdint>

inline constexpr std::uint32_t COPY_CHUNK_SIZE = 20971520;  // 20 MiB
inline constexpr std::uint32_t SECTOR_SIZE = 2048;

// What every rebuild operation receives from the front end.
struct WriterValues {
    const char* source_path;        // the European image
    int* source_fd;                 // -1 while closed; read_file_range opens and closes it
    std::uint8_t** buffer;          // receives each read's buffer; freed before the next read
    std::uint32_t total;            // denominator of the progress figure
    int output_fd;                  // the intermediate image, appended to
    std::uint32_t* bytes_written;   // running count over the whole rebuild
    std::uint8_t divisor;           // 2: the rebuild fills 0 to 50 %
};

// Each returns true when every byte was read and written; false at the first read,
// allocation or write failure, after which the rebuild must stop.
bool copy_range(std::uint32_t offset, std::uint32_t length, const WriterValues& writer);
bool write_zeros(std::uint32_t length, const WriterValues& writer);

// The progress line after each write: counter / total * 100 / divisor, rounded.
void report_rebuild_progress(const WriterValues& writer);
