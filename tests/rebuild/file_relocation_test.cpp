// Relocation of named files into a block of sectors, on small tables.
#include <gtest/gtest.h>

#include "rebuild/file_relocation.h"
#include "rebuild_test_files.h"

namespace {

constexpr std::size_t S = 2048;

struct FileRelocationTest : ::testing::Test {
    WriterFixture fx;
    void SetUp() override {
        open_writer_fixture(&fx, ::testing::UnitTest::GetInstance()->current_test_info()->name());
        write_file(fx.source_path, pattern_bytes(0, 64 * S));
    }
    void TearDown() override { close_writer_fixture(&fx); }

    std::vector<std::uint8_t> relocate(std::uint32_t base, const std::vector<RelocationTarget>& targets,
                                       const std::vector<RelocationSource>& sources,
                                       std::size_t* lines) {
        const RelocationTables tables{targets.data(), targets.size(), sources.data(), sources.size()};
        ::testing::internal::CaptureStdout();
        EXPECT_TRUE(relocate_files(base, tables, fx.values));
        *lines = count_progress_lines(::testing::internal::GetCapturedStdout());
        return finish_output(&fx);
    }
};

void append_source(std::vector<std::uint8_t>* out, std::uint64_t sector, std::size_t sectors) {
    const auto bytes = pattern_bytes(sector * S, sectors * S);
    out->insert(out->end(), bytes.begin(), bytes.end());
}

TEST_F(FileRelocationTest, PlacesFilesAtTheirTargetSectors) {
    // A gap before the first file, two files that abut, a gap, a file in a gap of the
    // source (only its target size is copied), then a file whose source comes first.
    const std::vector<RelocationSource> sources = {
        {"res/a.bin", 0}, {"res/b.bin", 3}, {"res/c.bin", 5}, {"res/d.bin", 20}};
    const std::vector<RelocationTarget> targets = {
        {"res/c.bin", 2, 4}, {"res/b.bin", 6, 2}, {"res/d.bin", 10, 1}, {"res/a.bin", 11, 3}};
    std::size_t lines = 0;
    const auto output = relocate(4, targets, sources, &lines);
    std::vector<std::uint8_t> expected(2 * S, 0);
    append_source(&expected, 4 + 5, 4);
    append_source(&expected, 4 + 3, 2);
    expected.resize(expected.size() + 2 * S, 0);
    append_source(&expected, 4 + 20, 1);
    append_source(&expected, 4 + 0, 3);
    EXPECT_TRUE(output == expected);
    EXPECT_EQ(fx.bytes_written, 14 * S);
    EXPECT_EQ(lines, 2u + 4u);  // two zero runs, four copies
}

TEST_F(FileRelocationTest, MissingNameBecomesZerosAndLaterFilesKeepTheirSectors) {
    const std::vector<RelocationSource> sources = {{"res/a.bin", 1}, {"res/c.bin", 8}};
    const std::vector<RelocationTarget> targets = {
        {"res/a.bin", 0, 2}, {"res/missing.bin", 2, 3}, {"res/c.bin", 5, 1}};
    std::size_t lines = 0;
    const auto output = relocate(0, targets, sources, &lines);
    std::vector<std::uint8_t> expected;
    append_source(&expected, 1, 2);
    expected.resize(expected.size() + 3 * S, 0);
    append_source(&expected, 8, 1);
    EXPECT_TRUE(output == expected);
    EXPECT_EQ(lines, 3u);
}

TEST_F(FileRelocationTest, FirstOfTwoEqualSourceNamesWins) {
    const std::vector<RelocationSource> sources = {
        {"res/x.bin", 10}, {"res/dup.bin", 3}, {"res/dup.bin", 7}};
    const std::vector<RelocationTarget> targets = {{"res/dup.bin", 0, 2}};
    std::size_t lines = 0;
    const auto output = relocate(0, targets, sources, &lines);
    std::vector<std::uint8_t> expected;
    append_source(&expected, 3, 2);
    EXPECT_TRUE(output == expected);
}

TEST_F(FileRelocationTest, NamesCompareExactlyAndTheSearchStopsAtAnEmptyName) {
    // Different case and a longer name do not match; nor does a source after the end marker.
    const std::vector<RelocationSource> sources = {
        {"res/A.bin", 1}, {"res/a.bin2", 2}, {"", 0}, {"res/a.bin", 3}};
    const std::vector<RelocationTarget> targets = {{"res/a.bin", 0, 1}};
    std::size_t lines = 0;
    const auto output = relocate(0, targets, sources, &lines);
    EXPECT_TRUE(output == std::vector<std::uint8_t>(S, 0));
}

TEST_F(FileRelocationTest, EmptyTargetListWritesAndPrintsNothing) {
    const std::vector<RelocationSource> sources = {{"res/a.bin", 1}};
    std::size_t lines = 0;
    EXPECT_TRUE(relocate(0, {}, sources, &lines).empty());
    EXPECT_EQ(lines, 0u);
}

TEST_F(FileRelocationTest, ListEndsAtAnEmptyTargetName) {
    const std::vector<RelocationSource> sources = {{"res/a.bin", 1}};
    const std::vector<RelocationTarget> targets = {{"", 0, 0}, {"res/a.bin", 4, 1}};
    std::size_t lines = 0;
    EXPECT_TRUE(relocate(0, targets, sources, &lines).empty());
    EXPECT_EQ(lines, 0u);
}

TEST_F(FileRelocationTest, OverlappingTargetsAreRefused) {
    const std::vector<RelocationSource> sources = {{"res/a.bin", 1}, {"res/b.bin", 5}};
    const std::vector<RelocationTarget> targets = {{"res/a.bin", 0, 3}, {"res/b.bin", 2, 1}};
    const RelocationTables tables{targets.data(), targets.size(), sources.data(), sources.size()};
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(relocate_files(0, tables, fx.values));
    ::testing::internal::GetCapturedStdout();
}

TEST_F(FileRelocationTest, SourceBeyondFourGibibytesIsRefusedWithoutReading) {
    // (base + sector) * 2048 must not wrap around to a small offset.
    const std::vector<RelocationSource> sources = {{"res/a.bin", 2097152}};
    const std::vector<RelocationTarget> targets = {{"res/a.bin", 0, 1}};
    const RelocationTables tables{targets.data(), targets.size(), sources.data(), sources.size()};
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(relocate_files(0, tables, fx.values));
    ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(finish_output(&fx).empty());
}

}  // namespace
