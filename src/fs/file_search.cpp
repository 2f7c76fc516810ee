// The resumable depth-first walk behind find_next_file.
//
// The process's current directory is always the folder whose listing is
// listing_handles[depth]; each call resumes that listing where the last one stopped.
#include "fs/file_search.h"

#include <cstring>

#include "fs/path_helpers.h"

namespace {

SearchState idle_state() {
    SearchState state{};
    state.depth = 0;
    for (ListingHandle& handle : state.listing_handles) handle = LISTING_NONE;
    state.start_folder[0] = '\0';
    return state;
}

SearchState g_search = idle_state();

bool is_dot_entry(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

char fold_case(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool name_matches_extension(const char* name, const char* extension) {
    if (std::strcmp(extension, "*") == 0) return true;
    const char* dot = std::strrchr(name, '.');
    if (dot == nullptr) return false;
    const char* own = dot + 1;
    std::size_t i = 0;
    for (; own[i] != '\0' && extension[i] != '\0'; ++i) {
        if (fold_case(own[i]) != extension[i]) return false;
    }
    return own[i] == '\0' && extension[i] == '\0';
}

namespace {

// Closes every open listing and makes the state idle, back in the start folder if it
// can still be reached. Used when the walk cannot find its way back up.
void abandon_walk() {
    for (std::uint32_t level = 0; level <= g_search.depth; ++level) {
        platform_close_listing(g_search.listing_handles[level]);
        g_search.listing_handles[level] = LISTING_NONE;
    }
    g_search.depth = 0;
    if (g_search.start_folder[0] != '\0') platform_set_current_directory(g_search.start_folder);
}

// Descends into the subfolder `name` of the current directory. A folder that would be
// too deep, whose full path does not fit the directory buffer, or that cannot be
// entered is passed over: the walk goes on with the next entry where it stands.
void enter_folder(const char* name) {
    if (g_search.depth + 1 >= MAX_SEARCH_DEPTH) return;
    char current[SEARCH_DIRECTORY_BUFFER];
    char target[SEARCH_DIRECTORY_BUFFER];
    if (platform_get_current_directory(current, SEARCH_DIRECTORY_BUFFER) == 0) return;
    if (!join_path(target, SEARCH_DIRECTORY_BUFFER, current, name)) return;
    if (!platform_set_current_directory(target)) return;
    // Windows may let the walk into a folder whose path it then cannot report (past its
    // path limit); the way back up would be lost there, so such a folder is passed over.
    if (platform_get_current_directory(target, SEARCH_DIRECTORY_BUFFER) == 0) {
        if (!platform_set_current_directory(current)) abandon_walk();
        return;
    }
    ++g_search.depth;
    g_search.listing_handles[g_search.depth] = LISTING_NONE;
}

// The current folder's listing is over: close it and go back to the parent. False
// when the walk is over (it was the start folder, or the way back up is lost).
bool leave_folder() {
    platform_close_listing(g_search.listing_handles[g_search.depth]);
    g_search.listing_handles[g_search.depth] = LISTING_NONE;
    if (g_search.depth == 0) return false;
    --g_search.depth;
    char current[SEARCH_DIRECTORY_BUFFER];
    if (platform_get_current_directory(current, SEARCH_DIRECTORY_BUFFER) == 0) {
        abandon_walk();
        return false;
    }
    cut_last_component(current);
    if (!platform_set_current_directory(current)) {
        abandon_walk();
        return false;
    }
    return true;
}

// The next entry of the current folder: the first one of a fresh listing, or the one
// after the last examined. False at the end of the listing or when it cannot be opened
// (such a folder counts as empty).
bool next_entry(ListingEntry* entry) {
    ListingHandle& listing = g_search.listing_handles[g_search.depth];
    if (listing != LISTING_NONE) return platform_next_entry(listing, entry);
    if (g_search.depth == 0 &&
        platform_get_current_directory(g_search.start_folder, SEARCH_DIRECTORY_BUFFER) == 0) {
        g_search.start_folder[0] = '\0';
    }
    listing = platform_open_listing(entry);
    return listing != LISTING_NONE;
}

}  // namespace

int find_next_file(char* out, std::size_t out_capacity, const char* extension) {
    ListingEntry entry{};
    for (;;) {
        if (!next_entry(&entry)) {
            if (!leave_folder()) return 0;
            continue;
        }
        if (is_dot_entry(entry.name)) continue;
        if (entry.is_directory) {
            // Links to folders may lead back up the tree: never follow them.
            if (!entry.is_link) enter_folder(entry.name);
            continue;
        }
        if (!name_matches_extension(entry.name, extension)) continue;
        char current[SEARCH_DIRECTORY_BUFFER];
        if (platform_get_current_directory(current, SEARCH_DIRECTORY_BUFFER) == 0) continue;
        // A path that does not fit the caller's buffer is passed over, never cut short.
        if (!join_path(out, out_capacity, current, entry.name)) continue;
        return 1;
    }
}

const SearchState& search_state() { return g_search; }
