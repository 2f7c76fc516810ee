// Text for the Windows console's Western European code page (850): what the program
// writes when its output is redirected to a file or a pipe.
#pragma once

#include <cstddef>

// Converts UTF-8 `text` (`length` bytes) into `out`, one byte per character: the
// character's byte in code page 850, or '?' for a character that code page lacks (and
// for each byte that starts no valid sequence). `out` must hold `length` bytes, which
// is always enough. Returns the bytes written.
std::size_t utf8_to_code_page_850(const char* text, std::size_t length, char* out);
