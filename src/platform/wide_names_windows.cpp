// UTF-8 and UTF-16 names, with the system's own strict converters.
#include "platform/wide_names.h"

#include "platform/windows_headers.h"

#include <climits>

bool to_wide_name(const char* utf8, WideName* out) {
    out->text[0] = L'\0';
    // -1: the terminator is converted too. MB_ERR_INVALID_CHARS refuses a malformed
    // sequence instead of putting a replacement character in its place.
    const int written = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, out->text,
                                            static_cast<int>(WIDE_NAME_CAPACITY));
    if (written <= 0) {
        out->text[0] = L'\0';
        return false;
    }
    return true;
}

bool from_wide_name(const wchar_t* wide, char* out, std::size_t capacity) {
    if (capacity == 0) return false;
    out[0] = '\0';
    const int room = capacity > INT_MAX ? INT_MAX : static_cast<int>(capacity);
    // WC_ERR_INVALID_CHARS refuses an unpaired surrogate instead of writing U+FFFD,
    // which would give the program the name of no file at all.
    const int written = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, -1, out, room, nullptr, nullptr);
    if (written <= 0) {
        out[0] = '\0';
        return false;
    }
    return true;
}
