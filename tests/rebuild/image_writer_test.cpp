// Range copies in chunks, zero runs and the progress line.
#include <gtest/gtest.h>

#include "rebuild/image_writer.h"
#include "rebuild_test_files.h"

namespace {

constexpr std::uint32_t CHUNK = 20971520;

using ImageWriterTest = WriterTest;

TEST_F(ImageWriterTest, CopiesInTwentyMebibyteChunksAndWritesZeroRuns) {
    write_file(source_path, pattern_bytes(0, 2u * CHUNK + 3 * 2048));
    struct Case {
        bool zeros;
        std::uint32_t offset, length;
        std::size_t lines;
    };
    // Exactly one chunk, one byte more, and zero runs of any length (one line each, even empty).
    const Case cases[] = {{false, 0, CHUNK, 1}, {false, 2048, CHUNK + 1, 2}, {false, 777, 5000, 1},
                          {true, 0, 8597504, 1}, {true, 0, 3, 1},            {true, 0, 0, 1}};
    std::vector<std::uint8_t> expected;
    for (const Case& c : cases) {
        ::testing::internal::CaptureStdout();
        ASSERT_TRUE(c.zeros ? write_zeros(c.length, values) : copy_range(c.offset, c.length, values));
        EXPECT_EQ(count_progress_lines(::testing::internal::GetCapturedStdout()), c.lines) << c.length;
        append(&expected, c.zeros ? std::vector<std::uint8_t>(c.length, 0) : pattern_bytes(c.offset, c.length));
        EXPECT_EQ(source_fd, -1);
        EXPECT_EQ(buffer, nullptr);
    }
    EXPECT_EQ(bytes_written, expected.size());
    EXPECT_TRUE(finish_output() == expected);
}

TEST_F(ImageWriterTest, ProgressFiguresRoundToWholePercents) {
    struct Case {
        std::uint32_t counter;
        std::uint8_t divisor;
        const char* text;
    };
    const Case cases[] = {{720896, 2, "Progression: 0 %\r"},
                          {2599682048u, 2, "Progression: 50 %\r"},  // 49.596 %
                          {1310436352u, 2, "Progression: 25 %\r"},
                          {26208727, 2, "Progression: 0 %\r"},  // 0.49999...
                          {26208728, 2, "Progression: 1 %\r"},  // 0.50000...
                          {2599682048u, 1, "Progression: 99 %\r"}};
    for (const Case& c : cases) {
        bytes_written = c.counter;
        values.divisor = c.divisor;
        ::testing::internal::CaptureStdout();
        report_rebuild_progress(values);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.text) << c.counter;
    }
}

}  // namespace
