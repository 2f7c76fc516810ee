// The resumable folder walk: order, extensions, and the folders it must pass over (too
// deep, vanished). Resumption, long paths and links are in the player scenes.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "fs/file_search.h"
#include "platform/platform.h"
#include "fs_test_support.h"

namespace {

namespace stdfs = std::filesystem;
using fs_test::walk_all;

class FileSearchTest : public fs_test::TempTreeTest {
protected:
    bool done() const { return fs_test::search_is_done(root_); }
    void make_files(std::initializer_list<const char*> names) {
        for (const char* name : names) make_file(name);
    }
};

// The depth-first order from the file system's own listing order (links are not entered).
void expected_walk(const stdfs::path& folder, std::vector<std::string>* out) {
    for (const stdfs::directory_entry& entry : stdfs::directory_iterator(folder)) {
        if (entry.is_directory() && !entry.is_symlink()) expected_walk(entry.path(), out);
        if (!entry.is_directory()) out->push_back(entry.path().string());
    }
}

std::set<std::string> names_of(const std::vector<std::string>& paths) {
    std::set<std::string> names;
    for (const std::string& path : paths) names.insert(stdfs::path(path).filename().string());
    return names;
}

TEST_F(FileSearchTest, DepthFirstInListingOrderWithExtensionsAfterTheLastDotInAnyCase) {
    make_files({"GAME.ISO", "game.iso.bak", ".iso", "x.IsO", "noext", "iso", "..iso", "p.XDelta",
                "folder.iso/inner.txt", "one/x.iso", "one/deep/z.iso", "three/four/five/u.iso"});
    stdfs::create_directories(root_ / "empty");
    stdfs::create_directories(root_ / "one/e1/e2/e3");
    std::vector<std::string> expected, found;
    expected_walk(root_, &expected);
    ASSERT_EQ(expected.size(), 12u);
    char out[4096];
    while (find_next_file(out, sizeof out, "*") == 1) {
        found.emplace_back(out);
        // A relative name opened now resolves in the hit's folder.
        EXPECT_EQ(stdfs::current_path(), stdfs::path(out).parent_path());
    }
    EXPECT_EQ(found, expected);
    EXPECT_TRUE(done());
    EXPECT_EQ(names_of(walk_all("iso")),
              (std::set<std::string>{"GAME.ISO", ".iso", "x.IsO", "..iso", "x.iso", "z.iso", "u.iso"}));
    EXPECT_EQ(names_of(walk_all("xdelta")), (std::set<std::string>{"p.XDelta"}));
    EXPECT_EQ(names_of(walk_all("bak")), (std::set<std::string>{"game.iso.bak"}));
    EXPECT_EQ(walk_all("is"), std::vector<std::string>{});
    EXPECT_TRUE(done());
}

TEST_F(FileSearchTest, NeverGoesDeeperThanTheListingSlots) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows refuses folders past MAX_PATH long before 256 levels";
#endif
    // Built by appending: gcc 12 warns falsely (-Wrestrict) on literal + std::string.
    const auto name = [](std::uint32_t level) { return std::string("f").append(std::to_string(level)).append(".iso"); };
    stdfs::path relative;
    for (std::uint32_t level = 0; level <= 300; ++level, relative /= "d") make_file(relative / name(level));
    const std::vector<std::string> found = walk_all("iso");
    EXPECT_EQ(found.size(), MAX_SEARCH_DEPTH);
    EXPECT_EQ(names_of(found).count(name(MAX_SEARCH_DEPTH - 1)), 1u);
    EXPECT_TRUE(done());
}

TEST_F(FileSearchTest, FoldersThatVanishMidWalkArePassedOverAndTheWalkGoesOn) {
    make_files({"s1/a.iso", "s2/b.iso", "s3/c.iso", "s4/d.iso", "t1.iso", "t2.iso", "t3.iso"});
    std::vector<std::string> all, rest;
    expected_walk(root_, &all);
    char out[4096];
    ASSERT_EQ(find_next_file(out, sizeof out, "iso"), 1);
    ASSERT_EQ(all.front(), out);
    const stdfs::path hit_folder = stdfs::path(out).parent_path();
    for (const char* name : {"s1", "s2", "s3", "s4"}) {
        if (root_ / name != hit_folder) stdfs::remove_all(root_ / name);
    }
    // Exactly the rest of the first listing, less what vanished.
    for (std::size_t i = 1; i < all.size(); ++i) {
        if (stdfs::exists(all[i])) rest.push_back(all[i]);
    }
    EXPECT_EQ(walk_all("iso"), rest);
    EXPECT_TRUE(done());
#ifndef _WIN32   // (Windows keeps a folder in use)
    // The folder it stands in vanishing loses its way back up: the walk ends, in the start folder.
    for (const std::string& path : rest) stdfs::remove(path);
    make_file("s5/e.iso");
    ASSERT_EQ(find_next_file(out, sizeof out, "iso"), 1);
    stdfs::remove_all(stdfs::path(out).parent_path());
    EXPECT_EQ(walk_all("iso"), std::vector<std::string>{});
    EXPECT_TRUE(done());
#endif
}

#ifdef _WIN32
// Windows tells links from other reparse points by their tag; Wine can make none but links.
TEST(ReparsePoints, OnlyNameSurrogatesAndUntaggedOnesAreLinks) {
    constexpr std::uint32_t FOLDER = 0x10, REPARSE = 0x400;
    struct Case {
        std::uint32_t attributes, tag;
        bool link;
    };
    const Case cases[] = {{FOLDER | REPARSE, 0xA0000003, true},   // junction
                          {FOLDER | REPARSE, 0xA000000C, true},   // folder symbolic link
                          {FOLDER | REPARSE, 0x9000601A, false},  // cloud-storage placeholder
                          {FOLDER | REPARSE, 0, true},            // no tag reported, as under Wine
                          {FOLDER, 0xA000000C, false}};           // no reparse point: the field means nothing
    for (const Case& c : cases) EXPECT_EQ(is_link_entry(c.attributes, c.tag), c.link) << std::hex << c.tag;
}
#endif

}  // namespace
