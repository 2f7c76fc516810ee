// In-place path edits, roots included.
#include <gtest/gtest.h>

#include <string>

#include "fs/path_helpers.h"
#include "platform/platform.h"

namespace {

// Writes paths with '\' and turns them into this platform's separator.
std::string native(std::string text) {
    for (char& c : text) {
        if (c == '\\') c = PATH_SEPARATOR;
    }
    return text;
}

struct Edited {
    int result;
    std::string text;
};

template <typename Edit>
Edited edit(const std::string& text, Edit change) {
    char buffer[300] = {};
    text.copy(buffer, sizeof buffer - 1);
    const int result = change(buffer);
    return Edited{result, buffer};
}

TEST(PathHelpers, DropPathPrefixRemovesTheFolderAndItsSeparator) {
    const auto drop = [](std::size_t n) { return [n](char* text) { return drop_path_prefix(text, n); }; };
    EXPECT_EQ(edit(native("C:\\work\\sub\\game.iso"), drop(7)).text, native("sub\\game.iso"));
    EXPECT_EQ(edit(native("C:\\work\\sub\\game.iso"), drop(7)).result, 1);
    // Nothing changes when the text is not longer than the prefix.
    EXPECT_EQ(edit(native("C:\\work"), drop(7)).result, 0);
    EXPECT_EQ(edit(native("C:\\work"), drop(7)).text, native("C:\\work"));
    EXPECT_EQ(edit("abc", drop(5)).text, "abc");
    // Exactly one character more: only the separator goes, leaving an empty text.
    EXPECT_EQ(edit(native("C:\\work\\"), drop(7)).text, "");
    // A root start folder already ends with its separator: it is not taken twice.
    EXPECT_EQ(edit(native("C:\\sub\\game.iso"), drop(3)).text, native("sub\\game.iso"));
    EXPECT_EQ(edit(native("C:\\game.iso"), drop(3)).text, "game.iso");
    EXPECT_EQ(edit("/sub/game.iso", drop(1)).text, "sub/game.iso");
}

TEST(PathHelpers, CutPathTailNeedsALongerText) {
    const auto cut = [](std::size_t n) { return [n](char* text) { return cut_path_tail(text, n); }; };
    EXPECT_EQ(edit("game.iso", cut(4)).text, "game");
    EXPECT_EQ(edit("game.ISO", cut(4)).result, 1);
    EXPECT_EQ(edit(".iso", cut(4)).result, 0);
    EXPECT_EQ(edit(".iso", cut(4)).text, ".iso");
    EXPECT_EQ(edit("", cut(0)).result, 0);
    EXPECT_EQ(edit("a", cut(0)).text, "a");
}

TEST(PathHelpers, StripDirectoriesKeepsTheBaseName) {
    const auto strip = [](char* text) { strip_directories(text); return 0; };
    EXPECT_EQ(edit(native("C:\\work\\sub") + "/patch.xdelta", strip).text, "patch.xdelta");
    EXPECT_EQ(edit("/patch.xdelta", strip).text, "/patch.xdelta");  // a leading separator does not count
    EXPECT_EQ(edit("patch.xdelta", strip).text, "patch.xdelta");
    EXPECT_EQ(edit(native("\\a\\b\\"), strip).text, "");
#ifndef _WIN32
    // Elsewhere than on Windows a backslash belongs to the name.
    EXPECT_EQ(edit("/dir/odd\\name.xdelta", strip).text, "odd\\name.xdelta");
#endif
}

TEST(PathHelpers, CutLastComponentKeepsRoots) {
    const auto up = [](char* text) { cut_last_component(text); return 0; };
    EXPECT_EQ(edit(native("C:\\work\\sub"), up).text, native("C:\\work"));
    EXPECT_EQ(edit(native("C:\\sub"), up).text, native("C:\\"));
    EXPECT_EQ(edit(native("C:\\"), up).text, native("C:\\"));
    EXPECT_EQ(edit("/sub", up).text, "/");
    EXPECT_EQ(edit("/", up).text, "/");
    EXPECT_EQ(edit("/a/b/c", up).text, "/a/b");
    EXPECT_EQ(edit("plain", up).text, "plain");
}

TEST(PathHelpers, JoinPathAddsOneSeparatorAndChecksTheBound) {
    char out[16];
    ASSERT_TRUE(join_path(out, sizeof out, native("C:\\work").c_str(), "a.iso"));
    EXPECT_EQ(std::string(out), native("C:\\work\\a.iso"));
    ASSERT_TRUE(join_path(out, sizeof out, native("C:\\").c_str(), "a.iso"));
    EXPECT_EQ(std::string(out), native("C:\\a.iso"));
    ASSERT_TRUE(join_path(out, sizeof out, "/", "a.iso"));
    EXPECT_EQ(std::string(out), "/a.iso");

    // 15 characters and the terminator fit exactly; one more does not, and out is left empty.
    ASSERT_TRUE(join_path(out, sizeof out, "/abcdefgh", "12345"));
    EXPECT_EQ(std::string(out), std::string("/abcdefgh") + PATH_SEPARATOR + "12345");
    EXPECT_FALSE(join_path(out, sizeof out, "/abcdefgh", "123456"));
    EXPECT_EQ(std::string(out), "");
    EXPECT_FALSE(join_path(out, sizeof out, "/abcdefghijklmnopqrstuvwxyz", "a"));
    EXPECT_FALSE(join_path(out, 0, "/", "a"));

    // Going down with join_path and up with cut_last_component from a root comes back to it.
    char path[32];
    ASSERT_TRUE(join_path(path, sizeof path, "/", "sub"));
    cut_last_component(path);
    EXPECT_EQ(std::string(path), "/");
}

TEST(PathHelpers, FitsInCountsTheTerminator) {
    EXPECT_TRUE(fits_in("abc", 4));
    EXPECT_FALSE(fits_in("abc", 3));
    EXPECT_TRUE(fits_in("", 1));
    EXPECT_FALSE(fits_in("", 0));
}

}  // namespace
