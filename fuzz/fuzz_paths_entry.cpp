#include "fuzz_paths_entry.h"

#include <cstring>
#include <memory>
#include <string>

#include "fs/file_search.h"
#include "fs/path_helpers.h"
#include "platform/platform.h"

namespace {

bool separator(char c) { return c == PATH_SEPARATOR || c == '/'; }

// A heap copy exactly as long as the text and its terminator.
std::unique_ptr<char[]> exact_copy(const std::string& text) {
    auto copy = std::make_unique<char[]>(text.size() + 1);
    std::memcpy(copy.get(), text.c_str(), text.size() + 1);
    return copy;
}

// Position of the last separator at or after `from`, or npos.
std::size_t last_separator(const std::string& text, std::size_t from) {
    std::size_t found = std::string::npos;
    for (std::size_t i = from; i < text.size(); ++i) {
        if (separator(text[i])) found = i;
    }
    return found;
}

int check_drop_prefix(const std::string& text, std::size_t n) {
    auto buffer = exact_copy(text);
    const int result = drop_path_prefix(buffer.get(), n);
    if (text.size() <= n) return result == 0 && text == buffer.get() ? 0 : 1;
    const std::size_t removed = n > 0 && separator(text[n - 1]) ? n : n + 1;
    return result == 1 && text.substr(removed) == buffer.get() ? 0 : 2;
}

int check_cut_tail(const std::string& text, std::size_t n) {
    auto buffer = exact_copy(text);
    const int result = cut_path_tail(buffer.get(), n);
    if (text.size() <= n) return result == 0 && text == buffer.get() ? 0 : 3;
    return result == 1 && text.substr(0, text.size() - n) == buffer.get() ? 0 : 4;
}

int check_strip_directories(const std::string& text) {
    auto buffer = exact_copy(text);
    strip_directories(buffer.get());
    const std::size_t at = last_separator(text, 1);
    const std::string expected = at == std::string::npos ? text : text.substr(at + 1);
    return expected == buffer.get() ? 0 : 5;
}

int check_cut_last_component(const std::string& text) {
    auto buffer = exact_copy(text);
    cut_last_component(buffer.get());
    const std::size_t at = last_separator(text, 0);
    std::string expected = text;
    if (at != std::string::npos) {
        const bool root = at == 0 || (at == 2 && text[1] == ':');
        expected = text.substr(0, root ? at + 1 : at);
    }
    return expected == buffer.get() ? 0 : 6;
}

int check_join(const std::string& folder, const std::string& name, std::size_t capacity) {
    auto out = std::make_unique<char[]>(capacity == 0 ? 1 : capacity);
    out[0] = 'x';
    const bool joined = join_path(out.get(), capacity, folder.c_str(), name.c_str());
    std::string expected = folder;
    if (!folder.empty() && !separator(folder.back())) expected += PATH_SEPARATOR;
    expected += name;
    const bool fits = expected.size() + 1 <= capacity;
    if (joined != fits) return 7;
    if (joined) return expected == out.get() ? 0 : 8;
    // A refused join leaves an empty string, or nothing at all when there is no room.
    if (capacity > 0 && out[0] != '\0') return 9;
    return 0;
}

int check_extension(const std::string& name, const std::string& extension) {
    bool expected = false;
    if (extension == "*") {
        expected = true;
    } else {
        const std::size_t dot = name.rfind('.');
        if (dot != std::string::npos) {
            std::string own = name.substr(dot + 1);
            for (char& c : own) {
                if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            }
            expected = own == extension;
        }
    }
    auto name_copy = exact_copy(name);
    auto extension_copy = exact_copy(extension);
    return name_matches_extension(name_copy.get(), extension_copy.get()) == expected ? 0 : 10;
}

int check_fits(const std::string& text, std::size_t capacity) {
    // fits_in may look at `capacity` bytes: give it exactly those, the terminator
    // included when the text is shorter.
    const std::size_t length = capacity < text.size() + 1 ? capacity : text.size() + 1;
    auto buffer = std::make_unique<char[]>(length == 0 ? 1 : length);
    std::memcpy(buffer.get(), text.c_str(), length);
    return fits_in(buffer.get(), capacity) == (text.size() + 1 <= capacity) ? 0 : 11;
}

}  // namespace

int run_paths_fuzz_input(const std::uint8_t* data, std::size_t size) {
    if (size < PATHS_FUZZ_CONTROL_BYTES) return 0;
    const unsigned helper = data[0] % 7u;
    const std::size_t number = data[1];
    const char* rest = reinterpret_cast<const char*>(data + PATHS_FUZZ_CONTROL_BYTES);
    const std::size_t rest_size = size - PATHS_FUZZ_CONTROL_BYTES;
    const std::size_t zero = std::string(rest, rest_size).find('\0');
    const std::string first(rest, zero == std::string::npos ? rest_size : zero);
    const std::string second =
        zero == std::string::npos ? std::string() : std::string(rest + zero + 1, rest_size - zero - 1).c_str();
    switch (helper) {
        case 0: return check_drop_prefix(first, number);
        case 1: return check_cut_tail(first, number);
        case 2: return check_strip_directories(first);
        case 3: return check_cut_last_component(first);
        case 4: return check_join(first, second, number);
        case 5: return check_extension(first, second);
        default: return check_fits(first, number);
    }
}
