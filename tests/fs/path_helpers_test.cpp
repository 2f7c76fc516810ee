// In-place path edits, roots included.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>
#include <string>

#include "fs/path_helpers.h"
#include "platform/platform.h"

namespace {

// Paths are written with '\' and turned into this platform's separator.
std::string native(std::string text) {
    for (char& c : text) c = c == '\\' ? PATH_SEPARATOR : c;
    return text;
}

TEST(PathHelpers, EditsInPlace) {
    using Edit = std::function<int(char*)>;
    const auto drop = [](std::size_t n) { return Edit([n](char* t) { return drop_path_prefix(t, n); }); };
    const Edit strip = [](char* t) { strip_directories(t); return 0; };
    const Edit up = [](char* t) { cut_last_component(t); return 0; };
    const auto ending = [](std::size_t capacity) {   // into a buffer of `capacity` bytes, then back
        return Edit([capacity](char* t) {
            char out[300];
            const bool done = replace_path_ending(out, capacity, t, 4, "_temp.iso");
            std::strcpy(t, out);
            return done ? 1 : 0;
        });
    };
    const auto within = [](std::string folder) {   // 1 when the text lies in `folder`; no edit
        return Edit([folder](char* t) { return path_is_within(t, folder.c_str()) ? 1 : 0; });
    };
    struct Case {
        std::string in;
        Edit edit;
        int result;
        std::string out;
    };
    const Case cases[] = {
        {native("C:\\work\\sub\\game.iso"), drop(7), 1, native("sub\\game.iso")},
        {native("C:\\work"), drop(7), 0, native("C:\\work")},  // n equal to the length
        {native("C:\\work\\"), drop(7), 1, ""},
        {native("C:\\game.iso"), drop(3), 1, "game.iso"},  // a root already ends with its separator
        {"/sub/game.iso", drop(1), 1, "sub/game.iso"},
        {"game.iso", ending(14), 1, "game_temp.iso"},
        {"game.iso", ending(13), 0, ""},  // one byte short of the terminator
        {".iso", ending(300), 0, ""},
        {"iso", ending(300), 0, ""},  // shorter than the ending it replaces
        {native("C:\\work\\sub") + "/patch.xdelta", strip, 0, "patch.xdelta"},
        {native("\\a\\b\\"), strip, 0, ""},
        {"patch.xdelta", strip, 0, "patch.xdelta"},
#ifndef _WIN32
        {"/dir/odd\\name.xdelta", strip, 0, "odd\\name.xdelta"},  // a backslash is part of a name here
#endif
        {native("C:\\work\\sub"), up, 0, native("C:\\work")},
        {native("C:\\sub"), up, 0, native("C:\\")},
        {native("C:\\"), up, 0, native("C:\\")},
        {"/sub", up, 0, "/"},
        {"/", up, 0, "/"},
        {native("C:\\Temp\\x.zip"), within(native("C:\\Temp")), 1, native("C:\\Temp\\x.zip")},
        {native("C:\\Temp"), within(native("C:\\Temp\\")), 1, native("C:\\Temp")},
        {native("C:\\Temp2"), within(native("C:\\Temp")), 0, native("C:\\Temp2")},   // another name
        {native("C:\\Te"), within(native("C:\\Temp")), 0, native("C:\\Te")},
#ifdef _WIN32
        {"c:\\data\\x", within("C:\\DATA"), 1, "c:\\data\\x"},   // in any case of letters
#endif
    };
    for (const Case& c : cases) {
        char buffer[300] = {};
        c.in.copy(buffer, sizeof buffer - 1);
        EXPECT_EQ(c.edit(buffer), c.result) << c.in;
        EXPECT_EQ(std::string(buffer), c.out) << c.in;
    }
}

// On heap buffers of the capacity given and one guard byte, so that a byte written past the
// room shows (the sanitizers see any further): the result fits with its terminator or is
// refused whole.
TEST(PathHelpers, JoinsIntoBuffersOfExactlyTheRoomNeeded) {
    const std::string sep(1, PATH_SEPARATOR);
    struct Case {
        std::string folder, name, joined;
    };
    const Case cases[] = {{"C:" + sep + "work", "game.iso", "C:" + sep + "work" + sep + "game.iso"},
                          {sep, "game.iso", sep + "game.iso"}, {"dir/", "x", "dir/x"}, {"", "name", "name"},
                          {"d", "", "d" + sep}};
    for (const Case& c : cases) {
        for (std::size_t capacity = 0; capacity <= c.joined.size() + 2; ++capacity) {
            std::vector<char> out(capacity + 1, '#');
            const bool fits = capacity > c.joined.size();
            EXPECT_EQ(join_path(capacity == 0 ? nullptr : out.data(), capacity, c.folder.c_str(), c.name.c_str()), fits)
                << c.joined << " in " << capacity;
            if (capacity > 0) {
                EXPECT_EQ(std::string(out.data()), fits ? c.joined : "") << c.joined << " in " << capacity;
            }
            EXPECT_EQ(out[capacity], '#') << c.joined << " in " << capacity;
        }
    }
}

}  // namespace
