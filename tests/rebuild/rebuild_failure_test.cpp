// A failed read or write stops the operation and the whole rebuild with false.
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "rebuild/file_relocation.h"
#include "rebuild/rebuild_script.h"
#include "rebuild/sound_bank_split.h"
#include "rebuild_test_files.h"

namespace {

constexpr std::uint32_t S = 2048;

struct RebuildFailureTest : ::testing::Test {
    WriterFixture fx;
    void SetUp() override {
        open_writer_fixture(&fx, ::testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    void TearDown() override { close_writer_fixture(&fx); }
    // Replaces the output by one that refuses every write.
    void make_output_read_only() {
        platform_close(fx.output_fd);
        fx.output_fd = platform_open(fx.output_path.c_str(), OPEN_READ_ONLY);
        ASSERT_GE(fx.output_fd, 0);
        fx.values.output_fd = fx.output_fd;
    }
};

TEST_F(RebuildFailureTest, MissingSourceStopsCopiesAndTheRebuild) {
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(copy_range(0, 4 * S, fx.values));
    EXPECT_EQ(fx.bytes_written, 0u);
    EXPECT_EQ(fx.buffer, nullptr);

    // The script's first step writes zeros; its first copy then fails and nothing follows.
    fx.bytes_written = 0;
    EXPECT_FALSE(rebuild_intermediate_image(fx.values));
    const std::string console = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(count_progress_lines(console), 1u);
    EXPECT_EQ(finish_output(&fx).size(), 720896u);
    EXPECT_EQ(fx.source_fd, -1);
}

TEST_F(RebuildFailureTest, ReadBeyondTheSourcesEndStopsTheSplit) {
    write_file(fx.source_path, pattern_bytes(0, 4 * S));
    const std::uint32_t offsets[] = {0, S};
    const SoundBankSet set{8 * S, 4 * S, offsets, 2, 2 * S};
    EXPECT_FALSE(split_sound_banks(set, fx.values));
    EXPECT_EQ(fx.buffer, nullptr);
    EXPECT_TRUE(finish_output(&fx).empty());
}

TEST_F(RebuildFailureTest, RefusedWritesStopEveryOperation) {
    write_file(fx.source_path, pattern_bytes(0, 8 * S));
    make_output_read_only();
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(write_zeros(S, fx.values));
    EXPECT_FALSE(copy_range(0, 2 * S, fx.values));
    EXPECT_EQ(fx.buffer, nullptr);  // freed on the failing path too

    const std::uint32_t offsets[] = {0, S};
    const SoundBankSet set{0, 4 * S, offsets, 2, 2 * S};
    EXPECT_FALSE(split_sound_banks(set, fx.values));
    EXPECT_EQ(fx.buffer, nullptr);

    const RelocationSource sources[] = {{"res/a.bin", 1}};
    const RelocationTarget targets[] = {{"res/a.bin", 0, 1}};
    EXPECT_FALSE(relocate_files(0, RelocationTables{targets, 1, sources, 1}, fx.values));

    EXPECT_FALSE(rebuild_intermediate_image(fx.values));
    // Nothing was written, so nothing was counted or shown.
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(fx.bytes_written, 0u);
}

TEST_F(RebuildFailureTest, ClosedOutputStopsTheRebuild) {
    platform_close(fx.output_fd);
    fx.output_fd = -1;
    fx.values.output_fd = -1;
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(rebuild_intermediate_image(fx.values));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

#ifndef _WIN32
TEST_F(RebuildFailureTest, FullDiskStopsTheRebuild) {
    // /dev/full accepts the open and fails every write with "no space left".
    platform_close(fx.output_fd);
    fx.output_fd = platform_open("/dev/full", OPEN_WRITE_ONLY);
    ASSERT_GE(fx.output_fd, 0);
    fx.values.output_fd = fx.output_fd;
    write_file(fx.source_path, pattern_bytes(0, 8 * S));
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(copy_range(0, 4 * S, fx.values));
    EXPECT_FALSE(rebuild_intermediate_image(fx.values));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(fx.bytes_written, 0u);
}
#endif

}  // namespace
