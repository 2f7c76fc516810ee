// UTF-8 text as the program keeps it (messages and names), decoded one character at a
// time and measured the way Windows measures a path.
#pragma once

#include <cstddef>

// What decode_utf8 gives for a byte that starts no valid sequence.
inline constexpr char32_t INVALID_CODE_POINT = 0xFFFFFFFF;

// Decodes the character at the start of `text` (`length` bytes, at least 1) and stores
// in `*size` the bytes it takes. A byte that starts no valid sequence (a stray
// continuation byte, an overlong form, a surrogate, a value past U+10FFFF, a sequence
// cut short) gives INVALID_CODE_POINT and takes one byte: Linux names may hold such
// bytes, and each one stays a character of its own.
char32_t decode_utf8(const char* text, std::size_t length, std::size_t* size);

// The UTF-16 code units `text` takes: one per character, two for a character past
// U+FFFF, one per byte that starts no valid sequence.
std::size_t utf16_units(const char* text);

// A UTF-16 code unit takes at most 3 bytes of UTF-8 (a character of two units takes 4).
inline constexpr std::size_t MAX_UTF8_BYTES_PER_UNIT = 3;
