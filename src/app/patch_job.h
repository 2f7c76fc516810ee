// The state of one run of the patcher.
#pragma once

#include <cstddef>
#include <cstdint>

#include "rebuild/rebuild_script.h"

enum RegionKind { US = 0, EU = 1 };

// Path buffers hold 254 characters and the terminator.
inline constexpr std::size_t PATH_BUFFER_SIZE = 255;

inline constexpr std::uint32_t PROGRESS_TOTAL = 2620872704u;
inline constexpr std::uint64_t US_IMAGE_SIZE = 2599682048u;
inline constexpr std::uint64_t EU_IMAGE_SIZE = EUROPEAN_IMAGE_SIZE;

struct PatchJob {
    int image_fd;                    // -1 when not open
    std::uint64_t image_size;
    std::uint8_t* read_buffer;       // the latest read_file_range buffer
    int temp_fd;                     // the intermediate image, European path only
    std::uint32_t bytes_written;     // written by the rebuild
    RegionKind region;
    char image_path[PATH_BUFFER_SIZE];
    char patch_path[PATH_BUFFER_SIZE];
    char output_path[PATH_BUFFER_SIZE];
    char part_path[PATH_BUFFER_SIZE];   // the output while it is written
    char temp_path[PATH_BUFFER_SIZE];
    char display_path[PATH_BUFFER_SIZE];
    char start_folder[PATH_BUFFER_SIZE];
};
