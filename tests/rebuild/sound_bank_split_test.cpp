// Splitting a region of sound banks into pieces found by the header-sector scan.
#include <gtest/gtest.h>

#include <cstring>

#include "rebuild/sound_bank_split.h"
#include "rebuild_test_files.h"

namespace {

constexpr std::uint32_t S = 2048;
constexpr std::uint32_t REGION_OFFSET = 3 * S;  // the region does not start the file

void put_word(std::vector<std::uint8_t>* bytes, std::size_t at, std::uint32_t word) {
    for (int k = 0; k < 4; ++k) (*bytes)[at + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(word >> (8 * k));
}

// Four words that come close to every criterion without meeting one.
void put_plain_start(std::vector<std::uint8_t>* bytes, std::size_t at) {
    put_word(bytes, at, 0x65685353);  // "SShe"
    put_word(bytes, at + 4, 25);
    put_word(bytes, at + 8, 17);
    put_word(bytes, at + 12, 48001);
}

// Meets criterion `which` (0 to 3) and no other.
void put_header(std::vector<std::uint8_t>* bytes, std::size_t at, int which) {
    put_plain_start(bytes, at);
    const std::uint32_t words[] = {BANK_HEADER_SIGNATURE, 24, 16, 48000};
    put_word(bytes, at + 4 * static_cast<std::size_t>(which), words[which]);
}

struct SoundBankSplitTest : ::testing::Test {
    WriterFixture fx;
    std::vector<std::uint8_t> region;

    void SetUp() override {
        open_writer_fixture(&fx, ::testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    void TearDown() override { close_writer_fixture(&fx); }

    // A region of `sectors` plain sectors after REGION_OFFSET bytes of other data.
    void make_region(std::size_t sectors) {
        region = pattern_bytes(REGION_OFFSET, sectors * S);
        for (std::size_t s = 0; s < sectors; ++s) put_plain_start(&region, s * S);
    }
    void save_source() {
        auto file = pattern_bytes(0, REGION_OFFSET);
        file.insert(file.end(), region.begin(), region.end());
        write_file(fx.source_path, file);
    }
    std::vector<std::uint8_t> split(const std::vector<std::uint32_t>& offsets, std::uint32_t end,
                                    std::size_t* lines, std::uint32_t length = 0) {
        save_source();
        const SoundBankSet set{REGION_OFFSET,
                               length != 0 ? length : static_cast<std::uint32_t>(region.size()),
                               offsets.data(), offsets.size(), end};
        ::testing::internal::CaptureStdout();
        EXPECT_TRUE(split_sound_banks(set, fx.values));
        *lines = count_progress_lines(::testing::internal::GetCapturedStdout());
        EXPECT_EQ(fx.source_fd, -1);
        EXPECT_EQ(fx.buffer, nullptr);
        return finish_output(&fx);
    }
    std::vector<std::uint8_t> region_bytes(std::size_t from, std::size_t count) const {
        return {region.begin() + static_cast<std::ptrdiff_t>(from),
                region.begin() + static_cast<std::ptrdiff_t>(from + count)};
    }
};

void append(std::vector<std::uint8_t>* out, const std::vector<std::uint8_t>& bytes) {
    out->insert(out->end(), bytes.begin(), bytes.end());
}

TEST(BankHeaderTest, AnyOneCriterionMarksAHeader) {
    std::vector<std::uint8_t> bytes(16);
    put_plain_start(&bytes, 0);
    EXPECT_FALSE(is_bank_header(bytes.data()));
    for (int which = 0; which < 4; ++which) {
        put_header(&bytes, 0, which);
        EXPECT_TRUE(is_bank_header(bytes.data())) << which;
    }
    // "SShd" stops the scan whatever follows it.
    const std::uint8_t signature_then_noise[16] = {'S', 'S', 'h', 'd', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    EXPECT_TRUE(is_bank_header(signature_then_noise));
    // The words are little-endian: 24 in the wrong byte order is no header.
    const std::uint8_t big_endian_24[16] = {0, 0, 0, 0, 0, 0, 0, 24, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_FALSE(is_bank_header(big_endian_24));
}

TEST_F(SoundBankSplitTest, EachCriterionAloneStopsTheScan) {
    for (int which = 0; which < 4; ++which) {
        close_writer_fixture(&fx);
        open_writer_fixture(&fx, "criterion" + std::to_string(which));
        make_region(8);
        put_header(&region, 3 * S, which);
        put_header(&region, 6 * S, which);
        std::size_t lines = 0;
        const auto output = split({0, 2 * S, 4 * S}, 5 * S, &lines);
        std::vector<std::uint8_t> expected = region_bytes(0, 2 * S);
        append(&expected, region_bytes(3 * S, 2 * S));
        append(&expected, region_bytes(6 * S, S));
        EXPECT_TRUE(output == expected) << which;
        EXPECT_EQ(lines, 3u);
    }
}

TEST_F(SoundBankSplitTest, PiecesLongerAndShorterThanTheirBanks) {
    // Banks start at sectors 0, 2 and 7. Piece 0 (3 sectors) takes in the first sector
    // of bank 1; piece 1 (2 sectors) leaves most of bank 1 out; piece 2 fits exactly.
    make_region(10);
    put_header(&region, 0, 0);
    put_header(&region, 2 * S, 1);
    put_header(&region, 7 * S, 3);
    std::size_t lines = 0;
    const auto output = split({0, 3 * S, 5 * S}, 8 * S, &lines);
    std::vector<std::uint8_t> expected = region_bytes(0, 3 * S);
    append(&expected, region_bytes(2 * S, 2 * S));
    append(&expected, region_bytes(7 * S, 3 * S));
    EXPECT_TRUE(output == expected);
    EXPECT_EQ(fx.bytes_written, 8 * S);
}

TEST_F(SoundBankSplitTest, PiecePastTheRegionIsCompletedWithZeros) {
    make_region(6);
    put_header(&region, 4 * S, 2);
    std::size_t lines = 0;
    const auto output = split({0, 2 * S}, 6 * S, &lines);
    std::vector<std::uint8_t> expected = region_bytes(0, 2 * S);
    append(&expected, region_bytes(4 * S, 2 * S));
    expected.resize(expected.size() + 2 * S, 0);
    EXPECT_TRUE(output == expected);
}

TEST_F(SoundBankSplitTest, ScanThatReachesTheRegionsEndLeavesZeroPieces) {
    // No header after the first bank: the scan stops at the end of the region, and the
    // bytes just after the region (which would make a header) are never looked at.
    make_region(4);
    std::vector<std::uint8_t> after(S, 0);
    put_header(&after, 0, 0);
    const std::vector<std::uint8_t> region_only = region;
    region.insert(region.end(), after.begin(), after.end());
    std::size_t lines = 0;
    const auto output = split({0, S, 2 * S}, 4 * S, &lines, 4 * S);
    std::vector<std::uint8_t> expected(region_only.begin(), region_only.begin() + S);
    expected.resize(4 * S, 0);
    EXPECT_TRUE(output == expected);
    EXPECT_EQ(lines, 3u);
}

TEST_F(SoundBankSplitTest, RegionWithAShortTailSectorIsScannedSafely) {
    // The last "sector" holds fewer than 16 bytes: it is never taken for a header.
    make_region(3);
    region.resize(3 * S + 10, 0);
    std::memcpy(region.data() + 3 * S, "SShd", 4);
    std::size_t lines = 0;
    const auto output = split({0, S}, 2 * S, &lines);
    std::vector<std::uint8_t> expected = region_bytes(0, S);
    expected.resize(2 * S, 0);
    EXPECT_TRUE(output == expected);
}

TEST_F(SoundBankSplitTest, RegionPastTheEndOfTheSourceUsesWhatArrived) {
    make_region(4);
    put_header(&region, 2 * S, 0);
    std::size_t lines = 0;
    const auto output = split({0, 2 * S}, 4 * S, &lines, 10 * S);
    std::vector<std::uint8_t> expected = region_bytes(0, 2 * S);
    append(&expected, region_bytes(2 * S, 2 * S));
    EXPECT_TRUE(output == expected);
}

TEST_F(SoundBankSplitTest, NoEntriesWritesNothingAndOneEntryScansNothing) {
    make_region(4);
    std::size_t lines = 0;
    EXPECT_TRUE(split({}, 3 * S, &lines).empty());
    EXPECT_EQ(lines, 0u);

    close_writer_fixture(&fx);
    open_writer_fixture(&fx, "one_entry");
    make_region(4);
    put_header(&region, S, 0);
    const auto output = split({0}, 3 * S, &lines);
    EXPECT_TRUE(output == region_bytes(0, 3 * S));
    EXPECT_EQ(lines, 1u);
}

TEST_F(SoundBankSplitTest, DescendingOffsetsAreRefused) {
    make_region(4);
    save_source();
    const std::vector<std::uint32_t> offsets = {0, 3 * S, 2 * S};
    const SoundBankSet set{REGION_OFFSET, 4 * S, offsets.data(), offsets.size(), 4 * S};
    EXPECT_FALSE(split_sound_banks(set, fx.values));
    EXPECT_TRUE(finish_output(&fx).empty());
}

}  // namespace
