// In-place edits of zero-terminated path strings.
#include "fs/path_helpers.h"

#include <cstring>

#include "platform/platform.h"

namespace {

// Windows takes both slashes; elsewhere a backslash is an ordinary name character.
bool is_separator(char c) { return c == PATH_SEPARATOR || c == '/'; }

// Windows compares names without regard to the case of their letters; a separator matches
// either separator.
bool same_name_character(char a, char b) {
    if (is_separator(a) && is_separator(b)) return true;
#ifdef _WIN32
    const auto fold = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
    return fold(a) == fold(b);
#else
    return a == b;
#endif
}

// Position of the last separator at or after `from`, or `length` when there is none.
std::size_t last_separator(const char* text, std::size_t length, std::size_t from) {
    std::size_t found = length;
    for (std::size_t i = from; i < length; ++i) {
        if (is_separator(text[i])) found = i;
    }
    return found;
}

}  // namespace

int drop_path_prefix(char* text, std::size_t n) {
    const std::size_t length = std::strlen(text);
    if (length <= n) return 0;
    // A root folder ("C:\", "/") already ends with its separator: no second one follows.
    const std::size_t removed = n > 0 && is_separator(text[n - 1]) ? n : n + 1;
    std::memmove(text, text + removed, length - removed + 1);
    return 1;
}

void strip_directories(char* path) {
    const std::size_t length = std::strlen(path);
    const std::size_t separator = last_separator(path, length, 1);
    if (separator == length) return;
    std::memmove(path, path + separator + 1, length - separator);
}

void cut_last_component(char* path) {
    const std::size_t length = std::strlen(path);
    const std::size_t separator = last_separator(path, length, 0);
    if (separator == length) return;
    // A root keeps its separator: "/sub" becomes "/", and "C:\sub" becomes "C:\", not
    // the bare "C:" (which would name the drive's own current folder). A root itself
    // stays as it is.
    const bool root = separator == 0 || (separator == 2 && path[1] == ':');
    path[root ? separator + 1 : separator] = '\0';
}

bool join_path(char* out, std::size_t capacity, const char* folder, const char* name) {
    const std::size_t folder_length = std::strlen(folder);
    const std::size_t name_length = std::strlen(name);
    const bool add_separator = folder_length > 0 && !is_separator(folder[folder_length - 1]);
    const std::size_t separator_length = add_separator ? 1 : 0;
    // Compare piece by piece so that no sum can wrap.
    if (capacity == 0 || folder_length >= capacity ||
        name_length >= capacity - folder_length - separator_length) {
        if (capacity > 0) out[0] = '\0';
        return false;
    }
    std::memmove(out, folder, folder_length);
    if (add_separator) out[folder_length] = PATH_SEPARATOR;
    std::memmove(out + folder_length + separator_length, name, name_length + 1);
    return true;
}

bool replace_path_ending(char* out, std::size_t capacity, const char* path, std::size_t n, const char* ending) {
    const std::size_t length = std::strlen(path);
    const std::size_t ending_length = std::strlen(ending);
    // Compare piece by piece so that no difference can wrap.
    if (capacity == 0 || length <= n || length - n >= capacity || ending_length >= capacity - (length - n)) {
        if (capacity > 0) out[0] = '\0';
        return false;
    }
    const std::size_t stem = length - n;
    std::memmove(out, path, stem);
    std::memmove(out + stem, ending, ending_length + 1);
    return true;
}

bool path_is_within(const char* path, const char* folder) {
    std::size_t length = std::strlen(folder);
    while (length > 0 && is_separator(folder[length - 1])) --length;
    if (length == 0) return false;
    for (std::size_t i = 0; i < length; ++i) {
        if (!same_name_character(path[i], folder[i])) return false;
    }
    return path[length] == '\0' || is_separator(path[length]);
}
