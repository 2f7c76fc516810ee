// Names as the Windows wide calls take them. Inside the program every name is UTF-8;
// only the Windows platform layer converts, here, on the way to and from the system.
#pragma once

#include <cstddef>

// Room for any name the program hands to a wide call, terminator included: far beyond
// the 254 characters of its own path buffers and the folders the search walks through.
inline constexpr std::size_t WIDE_NAME_CAPACITY = 1024;

struct WideName {
    wchar_t text[WIDE_NAME_CAPACITY];
};

// UTF-8 to UTF-16. False, with an empty name, when `utf8` is not valid UTF-8 or does
// not fit: such a name cannot be any file's.
bool to_wide_name(const char* utf8, WideName* out);

// UTF-16 to UTF-8 into `out` (at most `capacity` bytes, terminator included). False,
// with an empty string, when `wide` holds an unpaired surrogate (NTFS allows them, but
// no UTF-8 text names such a file) or the text does not fit.
bool from_wide_name(const wchar_t* wide, char* out, std::size_t capacity);
