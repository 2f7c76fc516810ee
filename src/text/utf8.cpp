#include "text/utf8.h"

#include <cstring>

namespace {

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

}  // namespace

char32_t decode_utf8(const char* text, std::size_t length, std::size_t* size) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    *size = 1;
    const unsigned char lead = bytes[0];
    if (lead < 0x80) return lead;
    std::size_t count = 0;
    char32_t code_point = 0;
    char32_t smallest = 0;   // below it, the form is overlong
    if (lead >= 0xC2 && lead <= 0xDF) {
        count = 2;
        code_point = lead & 0x1Fu;
        smallest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        count = 3;
        code_point = lead & 0x0Fu;
        smallest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        count = 4;
        code_point = lead & 0x07u;
        smallest = 0x10000;
    } else {
        return INVALID_CODE_POINT;
    }
    if (length < count) return INVALID_CODE_POINT;
    for (std::size_t i = 1; i < count; ++i) {
        if (!is_continuation(bytes[i])) return INVALID_CODE_POINT;
        code_point = (code_point << 6) | (bytes[i] & 0x3Fu);
    }
    const bool surrogate = code_point >= 0xD800 && code_point <= 0xDFFF;
    if (code_point < smallest || surrogate || code_point > 0x10FFFF) return INVALID_CODE_POINT;
    *size = count;
    return code_point;
}

std::size_t utf16_units(const char* text) {
    std::size_t remaining = std::strlen(text);
    std::size_t units = 0;
    while (remaining > 0) {
        std::size_t size = 0;
        const char32_t code_point = decode_utf8(text, remaining, &size);
        units += code_point != INVALID_CODE_POINT && code_point > 0xFFFF ? 2 : 1;
        text += size;
        remaining -= size;
    }
    return units;
}
