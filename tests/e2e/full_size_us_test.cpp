// The US path on a full-size image: a whole 2.6 GB target written and checked, then a
// checksum failure late in the patch; under Wine, Ctrl+C in the middle of a run.
#include <gtest/gtest.h>

#include <filesystem>

#include "e2e_support.h"
#include "expected_texts.h"
#include "full_size_support.h"

namespace fs = std::filesystem;

TEST(FullSizeUs, WholeTargetWithEveryProgressLineThenALateChecksumFailure) {
    TempFolder folder;
    const fs::path image = folder.path / "game.iso";
    const fs::path patch = folder.path / "patch" / "OV1_Patch_US-FR_test.xdelta";
    const fs::path output = folder.path / "game_patched.iso";
    const std::string start = banner() + us_detected("game.iso") + patching();
    fs::create_directory(folder.path / "patch");
    make_test_image("us", "sparse", image);
    const std::string image_before = file_sha256(image);
    const std::string expected = make_test_patch({image.string(), patch.string()});

    ProgramRun run = run_program(full_run(folder.path));
    EXPECT_EQ(run.output, start + progress_lines(1, 100) + patch_succeeded("game_patched.iso") + press_key());
    EXPECT_EQ(run.exit_status, 0);
    ASSERT_TRUE(fs::exists(output));
    EXPECT_EQ(file_sha256(output), expected);
    fs::remove(output);
    EXPECT_EQ(file_sha256(image), image_before);

    constexpr std::uint64_t BAD_WINDOW = 200;   // of 313
    make_test_patch({"--bad-checksum-window", std::to_string(BAD_WINDOW), image.string(), patch.string()});
    run = run_program(full_run(folder.path));
    const int last = driver_percent(BAD_WINDOW * PATCH_WINDOW, 0, 100);
    EXPECT_EQ(run.output, start + progress_lines(1, last) + crc_failed("game.iso") + press_key());
    EXPECT_FALSE(fs::exists(output));
}

// SIGINT to Wine mid-run: Wine turns it into the console's Ctrl+C event, and the run
// must clean up as it does natively (the native runs are in full_size_eu_test.cpp).
TEST(WineOnly, CtrlCDuringARun) {
    if (!running_windows_program()) GTEST_SKIP() << "Wine only";
    TempFolder folder;
    const fs::path image = folder.path / "game.iso";
    make_us_image(image);
    // The US image has the intermediate image's size: an identity patch copies all of it.
    make_test_patch({"--identity", "--no-checksums", "--source-size", std::to_string(INTERMEDIATE_SIZE),
                     (folder.path / "OV1_Patch_US-FR_v1.xdelta").string()}, false);
    FileGuard guard(image);
    RunOptions options = full_run(folder.path);
    options.key_press = false;
    options.signal_when = progress(30);
    const ProgramRun run = run_program(options);
    ASSERT_TRUE(run.signal_sent) << run.output;
    EXPECT_FALSE(run.timed_out);
    EXPECT_TRUE(ends_with(run.output, patch_failed())) << "failure message, and no prompt";
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_FALSE(fs::exists(folder.path / "game_patched.iso"));
    EXPECT_EQ(guard.changes(), "");
}
