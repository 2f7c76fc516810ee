#include "platform/console_print.h"

#include <cstdarg>
#include <cstdio>

#include "platform/platform.h"

void console_print(const char* format, ...) {
    char text[CONSOLE_TEXT_CAPACITY];
    std::va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    if (length < 0) return;
    // A longer text is cut to the buffer (a cut character shows as one unknown letter).
    const std::size_t shown = static_cast<std::size_t>(length) < sizeof text ? static_cast<std::size_t>(length)
                                                                              : sizeof text - 1;
    platform_write_console(text, shown);
}
