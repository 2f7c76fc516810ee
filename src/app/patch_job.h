// The state of one run of the patcher.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fs/file_search.h"
#include "fs/path_helpers.h"
#include "rebuild/rebuild_script.h"
#include "text/utf8.h"

enum RegionKind { US = 0, EU = 1 };

// The longest path the program works with: 254 characters as Windows counts them
// (UTF-16 code units, see utf16_units), on every system. A longer image or patch path
// is passed over; an image whose output names would be longer is refused.
inline constexpr std::size_t MAX_PATH_UNITS = 254;
// Path buffers hold the longest such path in UTF-8 and the terminator.
inline constexpr std::size_t PATH_BUFFER_SIZE = MAX_PATH_UNITS * MAX_UTF8_BYTES_PER_UNIT + 1;

inline bool path_within_limit(const char* path) { return utf16_units(path) <= MAX_PATH_UNITS; }
// Room for any path the search can hand back: its folder and one listed name.
inline constexpr std::size_t PASSED_OVER_CAPACITY = SEARCH_DIRECTORY_BUFFER + LISTING_NAME_CAPACITY;

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
    char patch_display_path[PATH_BUFFER_SIZE];   // the chosen patch, as messages show it
    char start_folder[PATH_BUFFER_SIZE];
    // The first image, and the first patch of the release's name, passed over because their
    // paths are too long, as messages show them; empty when none was.
    char passed_over_image[PASSED_OVER_CAPACITY];
    char passed_over_patch[PASSED_OVER_CAPACITY];
};

// `path` (one of the job's paths) as messages show it: relative to the start folder.
inline void display_of(char (&out)[PATH_BUFFER_SIZE], const PatchJob& job, const char* path) {
    std::memcpy(out, path, std::strlen(path) + 1);
    drop_path_prefix(out, std::strlen(job.start_folder));
}

// The folder that holds the image, where every file of the run is written.
inline void image_folder(char (&out)[PATH_BUFFER_SIZE], const PatchJob& job) {
    std::memcpy(out, job.image_path, sizeof out);
    cut_last_component(out);
}
