// The resumable folder walk: order, extensions, resumption, and the folders it must
// pass over (too deep, too long, links, vanished).
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "fs/file_search.h"
#include "fs_test_support.h"

namespace {

using fs_test::search_is_idle;
namespace stdfs = std::filesystem;
using fs_test::walk_all;

class FileSearchTest : public fs_test::TempTreeTest {};

// Built by appending: gcc 12 warns falsely (-Wrestrict) on literal + std::string.
std::string numbered(const char* stem, unsigned number, const char* suffix) {
    std::string name(stem);
    name.append(std::to_string(number)).append(suffix);
    return name;
}

// The depth-first order the walk must produce, computed from the file system's own
// listing order rather than from any assumption about sorting.
void expected_walk(const stdfs::path& folder, std::vector<std::string>* out) {
    for (const stdfs::directory_entry& entry : stdfs::directory_iterator(folder)) {
        if (entry.is_symlink()) {
            if (!stdfs::is_directory(entry.path())) out->push_back(entry.path().string());
        } else if (entry.is_directory()) {
            expected_walk(entry.path(), out);
        } else {
            out->push_back(entry.path().string());
        }
    }
}

std::vector<std::string> expected_walk(const stdfs::path& folder) {
    std::vector<std::string> out;
    expected_walk(folder, &out);
    return out;
}

std::set<std::string> names_of(const std::vector<std::string>& paths) {
    std::set<std::string> names;
    for (const std::string& path : paths) names.insert(stdfs::path(path).filename().string());
    return names;
}

TEST_F(FileSearchTest, VisitsFilesDepthFirstInListingOrderAndReturnsToStart) {
    // Enough entries per folder that files fall both before and after subfolders.
    for (const char* name : {"a.iso", "b.txt", "c", "d.iso", "e.bin"}) make_file(name);
    for (const char* name : {"one/x.iso", "one/y", "one/deep/z.iso", "one/deep/w.dat", "two/v.iso",
                             "three/four/five/u.iso", "three/t.txt"}) {
        make_file(name);
    }
    make_folder("empty");
    make_folder("one/empty_too");
    const std::vector<std::string> expected = expected_walk(root_);
    ASSERT_EQ(expected.size(), 12u);

    std::vector<std::string> found;
    char out[4096];
    while (find_next_file(out, sizeof out, "*") == 1) {
        found.emplace_back(out);
        // A relative name opened now resolves in the hit's folder.
        EXPECT_EQ(stdfs::current_path(), stdfs::path(out).parent_path());
    }
    EXPECT_EQ(found, expected);
    EXPECT_TRUE(search_is_idle());
    EXPECT_EQ(stdfs::current_path(), root_);

    // The next call starts a new walk from the same folder.
    EXPECT_EQ(walk_all("*"), expected);
    EXPECT_TRUE(search_is_idle());
}

TEST_F(FileSearchTest, ExtensionIsTextAfterLastDotFoldedToLowerCase) {
    for (const char* name : {"GAME.ISO", "game.iso.bak", "disc.tar.xdelta", ".iso", "x.IsO", "noext",
                             "iso", "..iso", "p.XDelta"}) {
        make_file(name);
    }
#ifndef _WIN32
    make_file("trail.");  // Windows drops a trailing dot from a file name
    EXPECT_EQ(walk_all("").size(), 1u);  // the empty extension after the last dot
#endif
    make_file("folder.iso/inner.txt");  // a folder never matches, whatever its name

    EXPECT_EQ(names_of(walk_all("iso")), (std::set<std::string>{"GAME.ISO", ".iso", "x.IsO", "..iso"}));
    EXPECT_EQ(names_of(walk_all("xdelta")), (std::set<std::string>{"disc.tar.xdelta", "p.XDelta"}));
    EXPECT_EQ(names_of(walk_all("bak")), (std::set<std::string>{"game.iso.bak"}));
    EXPECT_EQ(walk_all("is"), std::vector<std::string>{});
    std::set<std::string> every{"GAME.ISO", "game.iso.bak", "disc.tar.xdelta", ".iso", "x.IsO", "noext",
                                "iso", "..iso", "p.XDelta", "inner.txt"};
#ifndef _WIN32
    every.insert("trail.");
#endif
    EXPECT_EQ(names_of(walk_all("*")), every);
    EXPECT_TRUE(search_is_idle());
}

TEST_F(FileSearchTest, ResumesAcrossCallsAndAcrossExtensions) {
    for (const char* name : {"a.iso", "b.xdelta", "s/c.iso", "s/d.xdelta", "s/t/e.iso", "f.iso", "g.xdelta",
                             "u/h.xdelta", "u/i.iso"}) {
        make_file(name);
    }
    const std::vector<std::string> all = walk_all("*");
    ASSERT_EQ(all.size(), 9u);

    for (std::size_t stop = 1; stop < all.size(); ++stop) {
        char out[4096];
        for (std::size_t i = 0; i < stop; ++i) {
            ASSERT_EQ(find_next_file(out, sizeof out, "*"), 1);
            ASSERT_EQ(all[i], out);
        }
        // Asking for another extension continues the same walk: no earlier match again.
        std::vector<std::string> rest_iso;
        for (std::size_t i = stop; i < all.size(); ++i) {
            if (all[i].ends_with(".iso")) rest_iso.push_back(all[i]);
        }
        EXPECT_EQ(walk_all("iso"), rest_iso) << "stopped after " << stop;
        EXPECT_TRUE(search_is_idle());
        EXPECT_EQ(stdfs::current_path(), root_);
    }
}

TEST_F(FileSearchTest, EmptyFoldersYieldNothingAndTheWalkGoesOn) {
    make_folder("e1");
    make_folder("e2/e3/e4");
    EXPECT_EQ(walk_all("*"), std::vector<std::string>{});
    EXPECT_TRUE(search_is_idle());
    EXPECT_EQ(stdfs::current_path(), root_);

    make_file("e2/e3/found.iso");
    make_file("later.iso");
    EXPECT_EQ(names_of(walk_all("iso")), (std::set<std::string>{"found.iso", "later.iso"}));
}

TEST_F(FileSearchTest, NeverGoesDeeperThanTheListingSlots) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows refuses folders past MAX_PATH long before 256 levels";
#endif
    // 300 nested folders with one file each: only depths 0 to MAX_SEARCH_DEPTH - 1 are walked.
    stdfs::path relative;
    for (int level = 0; level <= 300; ++level) {
        make_file(relative / numbered("f", static_cast<unsigned>(level), ".iso"));
        relative /= "d";
    }
    const std::vector<std::string> found = walk_all("iso");
    std::set<std::string> expected;
    for (std::uint32_t level = 0; level < MAX_SEARCH_DEPTH; ++level) expected.insert(numbered("f", level, ".iso"));
    EXPECT_EQ(found.size(), MAX_SEARCH_DEPTH);
    EXPECT_EQ(names_of(found), expected);
    EXPECT_TRUE(search_is_idle());
    EXPECT_EQ(stdfs::current_path(), root_);
}

TEST_F(FileSearchTest, PathsLongerThanTheBuffersArePassedOver) {
    // The folder itself stays short enough to be entered on every platform (MAX_PATH).
    const std::string long_name(230 - std::min<std::size_t>(root_.string().size(), 200), 'n');
    make_file("short.iso");
    make_file(stdfs::path(long_name) / (std::string(60, 'f') + ".iso"));
    // 255 bytes: the long path does not fit and is skipped, never cut short.
    for (const std::string& path : walk_all("iso", 255)) {
        EXPECT_LT(path.size(), 255u);
        EXPECT_EQ(stdfs::path(path).filename(), "short.iso");
    }
    EXPECT_EQ(walk_all("iso", 255).size(), 1u);
    EXPECT_EQ(walk_all("iso", 4096).size(), 2u);
#ifndef _WIN32
    // (Windows stops at MAX_PATH, long before the directory buffer's 1000 bytes.)

    // Folders whose path passes the 1000-byte directory buffer are not entered.
    stdfs::path relative;
    std::set<std::string> reachable;
    for (int level = 0; level < 6; ++level) {
        relative /= std::string(190, static_cast<char>('a' + level));
        const std::string name = numbered("deep", static_cast<unsigned>(level), ".bin");
        make_file(relative / name);
        if ((root_ / relative).string().size() < SEARCH_DIRECTORY_BUFFER) reachable.insert(name);
    }
    ASSERT_LT(reachable.size(), 6u);
    ASSERT_GT(reachable.size(), 0u);
    EXPECT_EQ(names_of(walk_all("bin")), reachable);
#endif
    EXPECT_TRUE(search_is_idle());
    EXPECT_EQ(stdfs::current_path(), root_);
}

TEST_F(FileSearchTest, VanishedFoldersAreSkippedAndTheWalkEndsCleanly) {
    for (const char* name : {"s1/a.iso", "s2/b.iso", "s3/c.iso", "s4/d.iso", "top.iso"}) make_file(name);
    char out[4096];
    ASSERT_EQ(find_next_file(out, sizeof out, "iso"), 1);
    const stdfs::path hit_folder = stdfs::path(out).parent_path();
    // Remove every other subfolder: those not yet walked can no longer be entered.
    for (const char* name : {"s1", "s2", "s3", "s4"}) {
        if (root_ / name != hit_folder) stdfs::remove_all(root_ / name);
    }
    for (const std::string& path : walk_all("iso")) {
        const stdfs::path folder = stdfs::path(path).parent_path();
        EXPECT_TRUE(folder == root_ || folder == hit_folder) << path;
    }
    EXPECT_TRUE(search_is_idle());
    EXPECT_EQ(stdfs::current_path(), root_);
}

#ifndef _WIN32
// Linux only: Windows keeps a folder that is some process's current directory.
TEST_F(FileSearchTest, LosingTheWayBackUpEndsTheWalkInTheStartFolder) {
    make_file("gone/deeper/here.iso");
    make_file("gone/deeper/more.iso");
    char out[4096];
    ASSERT_EQ(find_next_file(out, sizeof out, "iso"), 1);
    ASSERT_EQ(stdfs::path(out).parent_path(), root_ / "gone" / "deeper");
    stdfs::remove_all(root_ / "gone");  // the current directory with it
    int guard = 0;
    while (find_next_file(out, sizeof out, "iso") == 1) ASSERT_LT(++guard, 10);
    EXPECT_TRUE(search_is_idle());
    for (ListingHandle handle : search_state().listing_handles) EXPECT_EQ(handle, LISTING_NONE);
    EXPECT_EQ(stdfs::current_path(), root_);
}

TEST_F(FileSearchTest, FolderLinksAreNeverFollowed) {
    make_file("real/a.iso");
    make_file("b.iso");
    stdfs::create_directory_symlink(".", root_ / "real" / "self");
    stdfs::create_directory_symlink("..", root_ / "real" / "up");
    stdfs::create_directory_symlink(root_, root_ / "start");
    stdfs::create_symlink(root_ / "b.iso", root_ / "real" / "linked.iso");  // a link to a file is a file
    stdfs::create_symlink(root_ / "nowhere", root_ / "dangling.bin");

    const std::vector<std::string> found = walk_all("iso");
    EXPECT_EQ(names_of(found), (std::set<std::string>{"a.iso", "b.iso", "linked.iso"}));
    std::vector<std::string> expected;
    for (const std::string& path : expected_walk(root_)) {
        if (path.ends_with(".iso")) expected.push_back(path);
    }
    EXPECT_EQ(found, expected);
    EXPECT_TRUE(search_is_idle());
    EXPECT_EQ(stdfs::current_path(), root_);
}
#endif

}  // namespace
