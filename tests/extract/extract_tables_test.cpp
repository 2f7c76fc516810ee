// extract-rebuild-tables on synthetic disc pairs: the shipped tables come back whole,
// a pair that breaks one fact is refused without touching OUTDIR, and the file system
// reader refuses corrupt directories cleanly.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "iso9660_reader.h"
#include "iso9660_writer.h"
#include "test_disc_pair.h"

namespace {

namespace fs = std::filesystem;

struct ExtractTablesTest : ::testing::Test {
    fs::path dir;
    void SetUp() override {
        // tmpfs when there is one: on a disk mounted with online discard, freeing the images'
        // thousands of scattered header blocks takes seconds per image.
        fs::path base = std::getenv("TMPDIR") ? fs::temp_directory_path() : fs::path("/dev/shm");
        if (access(base.c_str(), W_OK | X_OK) != 0) base = fs::temp_directory_path();
        std::string pattern = (base / "orv_extract_XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        fs::create_directory(dir / "out");
    }
    void TearDown() override { fs::remove_all(dir); }

    int run_tool(const std::string& arguments) {
        const std::string command = std::string(EXTRACT_TOOL_PATH) + " " + arguments + " 2>" + (dir / "err").string();
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string text_of(const fs::path& path) {
        std::stringstream text;
        text << std::ifstream(path).rdbuf();
        return text.str();
    }
};

// Names in the primary tree, then in a Joliet tree beside flat 8.3 stand-ins.
class ExtractTablesRoundTrip : public ExtractTablesTest, public ::testing::WithParamInterface<bool> {};
INSTANTIATE_TEST_SUITE_P(Trees, ExtractTablesRoundTrip, ::testing::Bool());

TEST_P(ExtractTablesRoundTrip, ShippedTablesComeBackFromTheirDiscPair) {
    const RebuildTableFiles shipped = shipped_rebuild_tables();
    std::string error;
    ASSERT_TRUE(write_test_disc_pair(dir / "us.iso", dir / "eu.iso", shipped, &error, GetParam())) << error;
    ASSERT_EQ(run_tool((dir / "us.iso").string() + " " + (dir / "eu.iso").string() + " " + (dir / "out").string()), 0)
        << text_of(dir / "err");
    const RebuildTableFiles extracted = read_table_files(dir / "out");
    ASSERT_EQ(extracted.error, "");
    EXPECT_TRUE(extracted.targets.size() == shipped.targets.size() && extracted.sources.size() == shipped.sources.size());
    for (std::size_t i = 0; i < shipped.targets.size() && i < extracted.targets.size(); ++i) {
        const TargetRow &a = extracted.targets[i], &b = shipped.targets[i];
        ASSERT_TRUE(a.name == b.name && a.sector == b.sector && a.size == b.size) << i << " " << a.name;
    }
    for (std::size_t j = 0; j < shipped.sources.size() && j < extracted.sources.size(); ++j) {
        ASSERT_TRUE(extracted.sources[j].name == shipped.sources[j].name &&
                    extracted.sources[j].sector == shipped.sources[j].sector) << j;
    }
    EXPECT_EQ(extracted.bank_sets, shipped.bank_sets);
    EXPECT_NE(text_of(dir / "out" / TABLE_FILE_NAMES[2]).find(GetParam() ? "Joliet names" : "ISO 9660 names"), std::string::npos);
    EXPECT_EQ(run_tool("us.iso eu.iso"), 2);
    EXPECT_NE(text_of(dir / "err").find("usage: extract-rebuild-tables US_IMAGE EU_IMAGE OUTDIR"), std::string::npos);
}

// One fact broken per row: exit 1, the fact on standard error, OUTDIR as it was.
TEST_F(ExtractTablesTest, PairThatBreaksAFactIsRefusedAndOutdirKept) {
    struct Row {
        const char* expected_message;
        void (*edit)(RebuildTableFiles&);
        bool swap_images;
        std::uint32_t first_folder_extent = 0;  // written into the US root's first folder record
    };
    const Row rows[] = {
        {"'target has a European file' does not hold: found no 'res/", [](RebuildTableFiles& t) { t.sources.erase(t.sources.begin() + 700); }, false},
        {"'bank set 1 first three and last' does not hold", [](RebuildTableFiles& t) { t.bank_sets[0][1] += 2048; }, false},
        {"'target gaps (index, from, to)' does not hold", [](RebuildTableFiles& t) { t.targets[9].sector += 1; }, false},
        {"'image order' does not hold", [](RebuildTableFiles&) {}, true},
        {"us.iso: directory '/DATA/' points to a directory already read", [](RebuildTableFiles&) {}, false, 18},
    };
    for (const Row& row : rows) {
        for (const char* name : TABLE_FILE_NAMES) std::ofstream(dir / "out" / name) << "old " << name;
        RebuildTableFiles tables = shipped_rebuild_tables();
        row.edit(tables);
        std::string error;
        ASSERT_TRUE(write_test_disc_pair(dir / "us.iso", dir / "eu.iso", tables, &error)) << error;
        if (row.first_folder_extent != 0) {
            std::fstream us(dir / "us.iso", std::ios::in | std::ios::out | std::ios::binary);
            us.seekp(18 * 2048 + 68 + 2);
            us.write(reinterpret_cast<const char*>(&row.first_folder_extent), 4);
        }
        const std::string us = (dir / "us.iso").string(), eu = (dir / "eu.iso").string();
        EXPECT_EQ(run_tool((row.swap_images ? eu + " " + us : us + " " + eu) + " " + (dir / "out").string()), 1);
        EXPECT_NE(text_of(dir / "err").find(row.expected_message), std::string::npos) << text_of(dir / "err");
        std::size_t files = 0;
        for (const auto& entry : fs::directory_iterator(dir / "out")) {
            ++files;
            EXPECT_EQ(text_of(entry.path()), "old " + entry.path().filename().string());
        }
        EXPECT_EQ(files, 3u) << row.expected_message;
    }
}

// A small image with a valid tree, then one field of one directory record spoiled
// (none in the first row, whose name is stored as "readme.;1").
TEST_F(ExtractTablesTest, CorruptDirectoriesAreRefusedCleanly) {
    struct Row {
        const char* path;          // the first file of the tree
        std::uint32_t more_files;  // beside it in its folder
        std::uint32_t sector, at;  // the byte spoiled: sector, offset in it
        std::uint32_t value;       // 32-bit little-endian
        const char* error;
    };
    const Row rows[] = {
        {"res/a/readme", 0, 0, 0, 0, ""},
        {"res/a/b0000000.bin", 0, 18, 68 + 2, 0xFFFFFF, "directory '/res/': extent of 2048 bytes at sector 16777215 lies outside"},
        {"res/a/b0000000.bin", 0, 19, 68 + 2, 18, "directory '/res/a/' points to a directory already read"},
        {"res/a/b0000000.bin", 0, 18, 68 + 10, 100, "directory '/res/': record at byte 68 overruns"},
        {"res/a/b0000000.bin", 41, 20, 2036, 48, "directory '/res/a/': record at byte 2036 overruns"},
        {"res/a/b0000000.bin", 0, 20, 68 + 32, 200, "directory '/res/a/': record at byte 68 has a name longer than the record"},
        {"res/a/b0000000.bin", 0, 20, 68 + 2, 0xFFFFFF, "file '/res/a/b0000000.bin' lies outside the image"},
        {"a/a/a/a/a/a/a/a/a/b.bin", 0, 0, 0, 0, "directory '/a/a/a/a/a/a/a/a/' lies deeper than 8 levels"},
    };
    for (const Row& row : rows) {
        std::vector<IsoEntry> files = {{row.path, 40, 2048}};
        for (std::uint32_t i = 1; i <= row.more_files; ++i) {
            files.push_back({"res/a/c" + std::to_string(1000000 + i) + ".bin", 40, 2048});  // 48-byte records
        }
        IsoSectors sectors = iso_file_system(files, 64);
        std::memcpy(sectors[row.sector].data() + row.at, &row.value, 4);
        std::ofstream image(dir / "small.iso", std::ios::binary | std::ios::trunc);
        for (std::uint32_t s = 0; s < 64; ++s) {
            image.write(reinterpret_cast<const char*>(sectors[s].data()), 2048);
        }
        image.close();
        IsoVolume volume;
        std::string error;
        EXPECT_EQ(read_iso_volume(dir / "small.iso", &volume, &error), *row.error == '\0') << row.error;
        EXPECT_NE(error.find(row.error), std::string::npos) << error;
        if (error.empty()) {
            EXPECT_EQ(volume.primary.at(0).path, row.path);
        }
    }
}

}  // namespace
