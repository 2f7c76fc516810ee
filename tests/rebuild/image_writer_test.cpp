// Range copies in chunks, zero runs and the progress line.
#include <gtest/gtest.h>

#include <cstdio>

#include "rebuild/image_writer.h"
#include "rebuild_test_files.h"

namespace {

constexpr std::uint32_t CHUNK = 20971520;

struct ImageWriterTest : ::testing::Test {
    WriterFixture fx;
    void SetUp() override {
        open_writer_fixture(&fx, ::testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    void TearDown() override { close_writer_fixture(&fx); }
};

TEST_F(ImageWriterTest, CopiesRangesInTwentyMebibyteChunks) {
    const std::uint64_t source_size = 2u * CHUNK + 3 * 2048;
    write_file(fx.source_path, pattern_bytes(0, source_size));
    struct Case {
        std::uint32_t offset;
        std::uint32_t length;
        std::size_t lines;
    };
    // Exactly one chunk, one byte more, two whole chunks, and a range that is not aligned.
    const Case cases[] = {{0, CHUNK, 1}, {2048, CHUNK + 1, 2}, {4096, 2 * CHUNK, 2}, {777, 5000, 1}};
    std::uint64_t expected_size = 0;
    std::vector<std::uint8_t> expected;
    ::testing::internal::CaptureStdout();
    for (const Case& c : cases) {
        ASSERT_TRUE(copy_range(c.offset, c.length, fx.values));
        const auto bytes = pattern_bytes(c.offset, c.length);
        expected.insert(expected.end(), bytes.begin(), bytes.end());
        expected_size += c.length;
        EXPECT_EQ(fx.source_fd, -1);
        EXPECT_EQ(fx.buffer, nullptr);
    }
    const std::string console = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(count_progress_lines(console), 1u + 2u + 2u + 1u);
    EXPECT_EQ(fx.bytes_written, expected_size);
    EXPECT_TRUE(finish_output(&fx) == expected);
}

TEST_F(ImageWriterTest, EmptyRangeWritesAndPrintsNothing) {
    write_file(fx.source_path, pattern_bytes(0, 4096));
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(copy_range(2048, 0, fx.values));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(fx.bytes_written, 0u);
    EXPECT_TRUE(finish_output(&fx).empty());
}

TEST_F(ImageWriterTest, RangePastTheEndOfTheSourceIsCompletedWithZeros) {
    write_file(fx.source_path, pattern_bytes(0, 10000));
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(copy_range(8000, 6000, fx.values));
    ::testing::internal::GetCapturedStdout();
    auto expected = pattern_bytes(8000, 2000);
    expected.resize(6000, 0);
    EXPECT_EQ(fx.bytes_written, 6000u);
    EXPECT_TRUE(finish_output(&fx) == expected);
}

TEST_F(ImageWriterTest, ZeroRunsOfAnyLength) {
    const std::uint32_t lengths[] = {2048, 8597504, 3 * (1u << 20) + 5, 0};
    std::uint64_t total = 0;
    ::testing::internal::CaptureStdout();
    for (std::uint32_t length : lengths) {
        ASSERT_TRUE(write_zeros(length, fx.values));
        total += length;
    }
    // One line per run, the empty one included.
    EXPECT_EQ(count_progress_lines(::testing::internal::GetCapturedStdout()), 4u);
    const auto output = finish_output(&fx);
    EXPECT_EQ(output.size(), total);
    EXPECT_EQ(std::count(output.begin(), output.end(), 0), static_cast<std::ptrdiff_t>(total));
}

TEST_F(ImageWriterTest, ProgressFiguresRoundToWholePercents) {
    struct Case {
        std::uint32_t counter;
        const char* text;
    };
    // 720,896 bytes is 0.0138 %; the whole image 49.596 %, shown as 50.
    const Case cases[] = {{720896, "Progression: 0 %\r"},
                          {2599682048u, "Progression: 50 %\r"},
                          {1310436352u, "Progression: 25 %\r"},
                          {0, "Progression: 0 %\r"},
                          {26208727, "Progression: 0 %\r"},     // 0.49999...
                          {26208728, "Progression: 1 %\r"}};    // 0.50000...
    for (const Case& c : cases) {
        fx.bytes_written = c.counter;
        ::testing::internal::CaptureStdout();
        report_rebuild_progress(fx.values);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.text) << c.counter;
    }
}

TEST_F(ImageWriterTest, DivisorOneShowsTheFullPercentage) {
    fx.values.divisor = 1;
    fx.bytes_written = 2599682048u;
    ::testing::internal::CaptureStdout();
    report_rebuild_progress(fx.values);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Progression: 99 %\r");
}

}  // namespace
