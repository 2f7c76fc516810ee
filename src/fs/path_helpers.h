// In-place edits of zero-terminated path strings.
#pragma once

#include <cstddef>

// Removes the first `n` characters of `text` and the character after them (the
// separator the search put after the start folder). When `text` already has a
// separator at position n - 1 (a root such as "C:\" or "/"), only the n characters go.
// Returns 0 and changes nothing when `text` has n characters or fewer.
int drop_path_prefix(char* text, std::size_t n);

// Keeps only the text after the last separator ('\' or '/' on Windows, '/' elsewhere,
// where a backslash is an ordinary name character); a separator at position 0 does
// not count.
void strip_directories(char* path);

// Cuts `path` at its last separator (as for strip_directories), to name its parent
// folder. A root keeps its separator ("C:\sub" gives "C:\", "/sub" gives "/"); a root
// itself, or a path with no separator, is left unchanged.
void cut_last_component(char* path);

// Writes `folder`, a separator (none when `folder` already ends with one) and `name`
// into `out`. Returns false, leaving `out` an empty string, when the result does not
// fit in `capacity` bytes, terminator included.
bool join_path(char* out, std::size_t capacity, const char* folder, const char* name);

// Writes `path` without its last `n` characters, followed by `ending`, into `out` (the
// name of a file beside `path`). Returns false, leaving `out` an empty string, when
// `path` has n characters or fewer or the result does not fit in `capacity` bytes.
bool replace_path_ending(char* out, std::size_t capacity, const char* path, std::size_t n, const char* ending);

// Whether `path` is `folder` or lies below it, compared as this system compares names
// (letters A to Z in any case on Windows). `folder` may end with a separator.
bool path_is_within(const char* path, const char* folder);
