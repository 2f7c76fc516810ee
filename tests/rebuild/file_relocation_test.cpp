// Relocation of named files into a block of sectors, on small tables.
#include <gtest/gtest.h>

#include "rebuild/file_relocation.h"
#include "rebuild_test_files.h"

namespace {

constexpr std::size_t S = 2048;

struct FileRelocationTest : WriterTest {
    std::vector<std::uint8_t> relocate(std::uint32_t base, const std::vector<RelocationTarget>& targets,
                                       const std::vector<RelocationSource>& sources, std::size_t* lines) {
        write_file(source_path, pattern_bytes(0, 64 * S));
        ::testing::internal::CaptureStdout();
        EXPECT_TRUE(relocate_files(base, {targets.data(), targets.size(), sources.data(), sources.size()}, values));
        *lines = count_progress_lines(::testing::internal::GetCapturedStdout());
        return finish_output();
    }
};

TEST_F(FileRelocationTest, PlacesFilesAtTheirTargetSectors) {
    // A gap first, two abutting files, a missing name (zeros), a gap, then files whose
    // sources come in another order; of two equal source names the first wins.
    const std::vector<RelocationSource> sources = {
        {"res/a.bin", 0}, {"res/b.bin", 3}, {"res/c.bin", 5}, {"res/d.bin", 20}, {"res/b.bin", 30}};
    const std::vector<RelocationTarget> targets = {
        {"res/c.bin", 2, 4}, {"res/b.bin", 6, 2}, {"res/gone.bin", 8, 1}, {"res/d.bin", 11, 1}, {"res/a.bin", 12, 3}};
    std::size_t lines = 0;
    const auto output = relocate(4, targets, sources, &lines);
    std::vector<std::uint8_t> expected(15 * S, 0);
    const auto place = [&](std::size_t target, std::size_t source, std::size_t sectors) {
        const auto bytes = pattern_bytes((4 + source) * S, sectors * S);
        std::copy(bytes.begin(), bytes.end(), expected.begin() + static_cast<std::ptrdiff_t>(target * S));
    };
    place(2, 5, 4);
    place(6, 3, 2);
    place(11, 20, 1);
    place(12, 0, 3);
    EXPECT_TRUE(output == expected);
    EXPECT_EQ(bytes_written, 15 * S);
    EXPECT_EQ(lines, 2u + 5u);  // two gaps, five files
}

TEST_F(FileRelocationTest, EmptyTargetListWritesAndPrintsNothing) {
    std::size_t lines = 0;
    EXPECT_TRUE(relocate(0, {}, {{"res/a.bin", 1}}, &lines).empty());
    EXPECT_EQ(lines, 0u);
}

}  // namespace
