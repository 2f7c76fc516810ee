// UTF-8 as the program reads it: the units Windows counts in a path, and the bytes a
// console reading code page 850 gets.
#include <gtest/gtest.h>

#include <string>

#include "text/code_page_850.h"
#include "text/utf8.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

std::string in_code_page_850(const std::string& text) {
    std::string out(text.size(), '\0');
    out.resize(utf8_to_code_page_850(text.data(), text.size(), out.data()));
    return out;
}

TEST(Text, UnitsAndCodePage850) {
    struct Case {
        std::string utf8, code_page_850;
        std::size_t units;
    };
    const Case cases[] = {
        {"", "", 0},
        {"Jeux vidéo\\Éric àçêèûÇüÿ\r\n", "Jeux vid\x82o\\\x90ric \x85\x87\x88\x8A\x96\x80\x81\x98\r\n", 26},
        {"ƒ░■\u00A0", "\x9F\xB0\xFE\xFF", 4},   // past U+00FF, and the last byte
        {"Игры ゲーム 🎮\U0010FFFF", "???? ??? ??", 13},   // one unit a letter, two past U+FFFF
        {"\u0080\u07FF\u0800\uFFFF\U00010000", "?????", 6},   // the first and last of each length
        // Bytes that start no valid sequence count one each: a Latin-1 letter, an overlong
        // form, both ends of the surrogates, a value past U+10FFFF, a stray continuation, a cut sequence.
        {"\xE9 \xC0\xAF \xED\xA0\x80 \xED\xBF\xBF \xF4\x90\x80\x80 \x80 \xE3\x82", "? ?? ??? ??? ???? ? ??", 22},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(utf16_units(c.utf8.c_str()), c.units) << c.utf8;
        EXPECT_EQ(in_code_page_850(c.utf8), c.code_page_850) << c.utf8;
    }
}

#ifdef _WIN32
// Every character of the first plane, against the system's own code page 850.
TEST(Text, CodePage850AsWindowsHasIt) {
    for (wchar_t letter = 1; letter < 0xD800; ++letter) {
        char utf8[8], system = 0;
        const int length = WideCharToMultiByte(CP_UTF8, 0, &letter, 1, utf8, sizeof utf8, nullptr, nullptr);
        const char unknown = '?';
        ASSERT_EQ(WideCharToMultiByte(850, WC_NO_BEST_FIT_CHARS, &letter, 1, &system, 1, &unknown, nullptr), 1);
        EXPECT_EQ(in_code_page_850(std::string(utf8, static_cast<std::size_t>(length))), std::string(1, system))
            << std::hex << static_cast<unsigned>(letter);
    }
}
#endif

}  // namespace
