// Splitting a region of sound banks into pieces found by the header-sector scan.
#include <gtest/gtest.h>

#include "rebuild/sound_bank_split.h"
#include "rebuild_test_files.h"

namespace {

constexpr std::uint32_t S = 2048;
constexpr std::uint32_t REGION_OFFSET = 3 * S;  // the region does not start the file

void put_word(std::vector<std::uint8_t>* bytes, std::size_t at, std::uint32_t word) {
    for (std::size_t k = 0; k < 4; ++k) (*bytes)[at + k] = static_cast<std::uint8_t>(word >> (8 * k));
}

// Meets header criterion `which` (0 to 3) and comes close to the others without meeting
// them ("SShe", 25, 17, 48001); -1 meets none.
void put_start(std::vector<std::uint8_t>* bytes, std::size_t at, int which) {
    const std::uint32_t near[] = {0x65685353, 25, 17, 48001};
    const std::uint32_t header[] = {BANK_HEADER_SIGNATURE, 24, 16, 48000};
    for (int k = 0; k < 4; ++k) put_word(bytes, at + 4 * static_cast<std::size_t>(k), k == which ? header[k] : near[k]);
}

struct SoundBankSplitTest : WriterTest {
    std::vector<std::uint8_t> region;

    // `sectors` plain sectors, with a header of the given kind at each (sector, kind).
    void make_region(std::size_t sectors, std::initializer_list<std::pair<std::size_t, int>> headers = {}) {
        region = pattern_bytes(REGION_OFFSET, sectors * S);
        for (std::size_t s = 0; s < sectors; ++s) put_start(&region, s * S, -1);
        for (const auto& [sector, kind] : headers) put_start(&region, sector * S, kind);
    }
    std::vector<std::uint8_t> split(const std::vector<std::uint32_t>& offsets, std::uint32_t end, std::size_t* lines,
                                    std::size_t region_sectors) {
        auto file = pattern_bytes(0, REGION_OFFSET);
        append(&file, region);
        write_file(source_path, file);
        const SoundBankSet set{REGION_OFFSET, static_cast<std::uint32_t>(region_sectors * S), offsets.data(),
                               offsets.size(), end};
        ::testing::internal::CaptureStdout();
        EXPECT_TRUE(split_sound_banks(set, values));
        *lines = count_progress_lines(::testing::internal::GetCapturedStdout());
        EXPECT_EQ(source_fd, -1);
        EXPECT_EQ(buffer, nullptr);
        return finish_output();
    }
    std::vector<std::uint8_t> sectors(std::size_t from, std::size_t count) const {
        return {region.begin() + static_cast<std::ptrdiff_t>(from * S),
                region.begin() + static_cast<std::ptrdiff_t>((from + count) * S)};
    }
};

TEST_F(SoundBankSplitTest, EachCriterionAloneStopsTheScan) {
    for (int which = 0; which < 4; ++which) {
        open_output(std::to_string(which));
        make_region(8, {{3, which}, {6, which}});
        std::size_t lines = 0;
        const auto output = split({0, 2 * S, 4 * S}, 5 * S, &lines, 8);
        std::vector<std::uint8_t> expected = sectors(0, 2);
        append(&expected, sectors(3, 2));
        append(&expected, sectors(6, 1));
        EXPECT_TRUE(output == expected) << which;
        EXPECT_EQ(lines, 3u);
    }
}

TEST_F(SoundBankSplitTest, PiecesLongerAndShorterThanTheirBanksAndPastTheRegion) {
    // Banks start at sectors 0, 2 and 7. Piece 0 (3 sectors) takes in the first sector of
    // bank 1; piece 1 (2) leaves most of bank 1 out; piece 2 (5) runs 2 sectors past the region.
    make_region(10, {{0, 0}, {2, 1}, {7, 3}});
    std::size_t lines = 0;
    const auto output = split({0, 3 * S, 5 * S}, 10 * S, &lines, 10);
    std::vector<std::uint8_t> expected = sectors(0, 3);
    append(&expected, sectors(2, 2));
    append(&expected, sectors(7, 3));
    expected.resize(10 * S, 0);
    EXPECT_TRUE(output == expected);
    EXPECT_EQ(bytes_written, 10 * S);
}

TEST_F(SoundBankSplitTest, ScanThatReachesTheRegionsEndLeavesZeroPieces) {
    // No header after the first bank; the header just past the region is never looked at.
    make_region(5, {{4, 0}});
    std::size_t lines = 0;
    const auto output = split({0, S, 2 * S}, 4 * S, &lines, 4);
    std::vector<std::uint8_t> expected = sectors(0, 1);
    expected.resize(4 * S, 0);
    EXPECT_TRUE(output == expected);
    EXPECT_EQ(lines, 3u);
}

TEST_F(SoundBankSplitTest, NoEntriesWritesNothingAndOneEntryScansNothing) {
    make_region(4);
    std::size_t lines = 0;
    EXPECT_TRUE(split({}, 3 * S, &lines, 4).empty());
    EXPECT_EQ(lines, 0u);
    open_output("one");
    make_region(4, {{1, 0}});
    EXPECT_TRUE(split({0}, 3 * S, &lines, 4) == sectors(0, 3));
    EXPECT_EQ(lines, 1u);
}

}  // namespace
