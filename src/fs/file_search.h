// Resumable depth-first search of the folder tree below the current directory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

// Listing slots: the walk goes at most MAX_SEARCH_DEPTH - 1 levels below the folder
// where it began; deeper folders are not entered.
inline constexpr std::uint32_t MAX_SEARCH_DEPTH = 256;
// Size of the buffer the current directory is read into while walking.
inline constexpr std::uint32_t SEARCH_DIRECTORY_BUFFER = 1000;

// The one process-wide search state, kept between calls.
struct SearchState {
    std::uint32_t depth;
    ListingHandle listing_handles[MAX_SEARCH_DEPTH];
    // Where the current walk began: the walk returns there if it loses its way back up.
    char start_folder[SEARCH_DIRECTORY_BUFFER];
};

// Returns 1 and writes "<current directory><separator><name>" into `out` (at most
// `out_capacity` bytes, terminator included) when a file with `extension` is found;
// the current directory is then the file's folder. Returns 0 when the walk is over:
// the state is idle again and the current directory is where the walk began.
// `extension` is "*" for every file, or a lower-case extension without its dot.
// A file whose full path does not fit `out` is passed over. Links to folders are never
// followed; a folder that cannot be entered, that would stand MAX_SEARCH_DEPTH levels
// down, or whose path does not fit SEARCH_DIRECTORY_BUFFER bytes is passed over; a
// folder that cannot be listed counts as empty.
int find_next_file(char* out, std::size_t out_capacity, const char* extension);

// True when `name` has `extension`: "*" matches every name; otherwise the text after
// the last '.' of `name`, with A to Z folded to a to z and every other byte (those
// above 127 included) kept, must equal `extension`. A name without '.' matches only "*".
bool name_matches_extension(const char* name, const char* extension);

// The state, for tests that check the walk returns to idle.
const SearchState& search_state();
