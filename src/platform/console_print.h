// Every text the program shows goes out here: formatted, then written in one piece.
#pragma once

#include <cstddef>

// Room for the longest message with the longest path the program shows.
inline constexpr std::size_t CONSOLE_TEXT_CAPACITY = 2048;

// printf-style formatting (UTF-8 text and arguments) into a bounded buffer, then one
// write to the console. A failed write changes nothing for the caller.
void console_print(const char* format, ...) __attribute__((format(printf, 1, 2)));
