// The US path on full-size images: a whole 2.6 GB target written and checked, a
// checksum failure late in the patch, and the failures that must leave nothing behind.
#include <gtest/gtest.h>

#include <filesystem>

#include "e2e_support.h"
#include "expected_texts.h"
#include "full_size_support.h"

namespace fs = std::filesystem;

namespace {

// A US image at the top of the folder and its patch in a subfolder, as a player
// would unpack them.
struct UsFolder {
    TempFolder folder;
    fs::path image = folder.path / "game.iso";
    fs::path patch = folder.path / "patch" / "OV1_Patch_US-FR_test.xdelta";
    fs::path output = folder.path / "game_patched.iso";
    UsFolder() {
        fs::create_directory(folder.path / "patch");
        make_test_image("us", "sparse", image);
    }
    std::string run_start() const { return banner() + us_detected("game.iso") + patching(); }
};

}  // namespace

TEST(FullSizeUs, WholeTargetIsWrittenWithEveryProgressLineAndTheImageIsLeftAlone) {
    StepTimer timer;
    UsFolder us;
    const std::string image_before = file_sha256(us.image);
    const std::string expected = make_test_patch({us.image.string(), us.patch.string()});
    timer.lap("image digest and patch");

    const PatcherRun run = run_patcher(us.folder.path, FULL_RUN_TIMEOUT_SECONDS);
    timer.lap("patcher run");
    EXPECT_EQ(run.output, us.run_start() + progress_lines(1, 100) + patch_succeeded("game_patched.iso") + press_key());
    EXPECT_EQ(run.exit_status, 0);
    ASSERT_TRUE(fs::exists(us.output));
    EXPECT_EQ(fs::file_size(us.output), FULL_TARGET_SIZE);
    EXPECT_EQ(file_sha256(us.output), expected);
    fs::remove(us.output);
    EXPECT_EQ(file_sha256(us.image), image_before);
    timer.lap("checks");
}

TEST(FullSizeUs, ChecksumFailureInALaterWindowNamesTheImageAndLeavesNoOutput) {
    StepTimer timer;
    UsFolder us;
    constexpr std::uint64_t BAD_WINDOW = 200;   // of 313
    make_test_patch({"--bad-checksum-window", std::to_string(BAD_WINDOW), us.image.string(), us.patch.string()});
    timer.lap("patch");

    const PatcherRun run = run_patcher(us.folder.path, FULL_RUN_TIMEOUT_SECONDS);
    timer.lap("patcher run");
    const int last = driver_percent(BAD_WINDOW * PATCH_WINDOW, 0, 100);
    EXPECT_EQ(last, 64);
    EXPECT_EQ(run.output, us.run_start() + progress_lines(1, last) + crc_failed("game.iso") + press_key());
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_FALSE(fs::exists(us.output));
}

// Quick cases: the patch fails before much is written, so they also run under Wine.

TEST(FullSizeQuick, PatchCutOffInsideAWindowFailsAndAnOldOutputIsGoneAllTheSame) {
    UsFolder us;
    write_file(us.output, "an old patched image");
    // Five windows, cut in the middle: the first windows decode, then the patch ends.
    make_test_patch({"--target-size", "40000000", us.image.string(), us.patch.string()});
    fs::resize_file(us.patch, fs::file_size(us.patch) / 2);

    const PatcherRun run = run_patcher(us.folder.path);
    EXPECT_EQ(run.output, us.run_start() + patch_failed() + press_key());
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_FALSE(fs::exists(us.output));
}

TEST(FullSizeQuick, OutputThatCannotBeWrittenIsAFailureAndTheFolderInItsWayStays) {
    UsFolder us;
    fs::create_directory(us.output);
    make_test_patch({"--target-size", "20000000", us.image.string(), us.patch.string()});

    const PatcherRun run = run_patcher(us.folder.path);
    EXPECT_EQ(run.output, us.run_start() + patch_failed() + press_key());
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_TRUE(fs::is_directory(us.output));
    EXPECT_TRUE(fs::is_empty(us.output));
}
