// A failed read or write stops the operation and the whole rebuild with false.
#include <gtest/gtest.h>

#include "rebuild/file_relocation.h"
#include "rebuild/rebuild_script.h"
#include "rebuild/sound_bank_split.h"
#include "rebuild_test_files.h"

namespace {

constexpr std::uint32_t S = 2048;

using RebuildFailureTest = WriterTest;

TEST_F(RebuildFailureTest, MissingSourceStopsTheRebuildAfterItsFirstStep) {
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(rebuild_intermediate_image(values));
    EXPECT_EQ(count_progress_lines(::testing::internal::GetCapturedStdout()), 1u);
    EXPECT_EQ(finish_output().size(), 720896u);  // the first step's zeros, then nothing
    EXPECT_EQ(source_fd, -1);
    EXPECT_EQ(buffer, nullptr);
}

TEST_F(RebuildFailureTest, RefusedWritesStopEveryOperation) {
    write_file(source_path, pattern_bytes(0, 8 * S));
    platform_close(output_fd);
    output_fd = values.output_fd = platform_open(output_path.c_str(), OPEN_READ_ONLY);
    ASSERT_GE(output_fd, 0);
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(write_zeros(S, values));
    EXPECT_FALSE(copy_range(0, 2 * S, values));
    EXPECT_EQ(buffer, nullptr);  // freed on the failing path too
    const std::uint32_t offsets[] = {0, S};
    EXPECT_FALSE(split_sound_banks(SoundBankSet{0, 4 * S, offsets, 2, 2 * S}, values));
    const RelocationSource sources[] = {{"res/a.bin", 1}};
    const RelocationTarget targets[] = {{"res/a.bin", 0, 1}};
    EXPECT_FALSE(relocate_files(0, RelocationTables{targets, 1, sources, 1}, values));
    EXPECT_FALSE(rebuild_intermediate_image(values));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");  // nothing written, nothing shown
    EXPECT_EQ(bytes_written, 0u);
    EXPECT_EQ(buffer, nullptr);
}

}  // namespace
