// The run up to the choice of the patch: which image is taken, which patch, and
// exactly what the player reads.
#include <gtest/gtest.h>

#include <filesystem>

#include "e2e_support.h"
#include "expected_texts.h"

namespace fs = std::filesystem;

namespace {

// A patch that is not one: choosing it shows the patch step start and fail at once,
// which is how these tests see which file was chosen.
const std::string NOT_A_PATCH = "this is not a patch";

void expect_run(const TempFolder& folder, const std::string& expected) {
    const PatcherRun run = run_patcher(folder.path);
    EXPECT_EQ(run.output, expected);
    EXPECT_EQ(run.exit_status, 0);
}

}  // namespace

TEST(Identification, NoImageAtAll) {
    TempFolder folder;
    write_file(folder.path / "readme.txt", "hello");
    expect_run(folder, banner() + image_not_found() + press_key());
}

TEST(Identification, ImagesOfOtherSizesOrContentArePassedOverSilently) {
    TempFolder folder;
    make_sparse_file(folder.path / "small.iso", 4096, {});
    // Right size, wrong boot path.
    make_sparse_file(folder.path / "wrongboot.iso", US_SIZE, {{13093328, "cdrom0:\\SLUS_000.00;1"}});
    // Right boot path, wrong marker.
    make_sparse_file(folder.path / "wrongmarker.iso", US_SIZE,
                     {{13093328, std::string("cdrom0:\\SXUS_907.31;1", 21) + '\0'}, {14500752, "\x82\x62\x82\x80"}});
    // The boot path without its terminating zero byte.
    make_sparse_file(folder.path / "noterminator.iso", EU_SIZE, {{12693144, "cdrom0:\\SXES_608.42;1X"}});
    expect_run(folder, banner() + image_not_found() + press_key());
}

TEST(Identification, SizeIsComparedOnSixtyFourBits) {
    // 4 GiB more than the US size: its low 32 bits are the US size.
    TempFolder folder;
    make_sparse_file(folder.path / "huge.iso", US_SIZE + (std::uint64_t{1} << 32),
                     {{13093328, std::string("cdrom0:\\SXUS_907.31;1", 21) + '\0'}, {14500752, "\x82\x62\x82\x81"}});
    expect_run(folder, banner() + image_not_found() + press_key());
}

TEST(Identification, UsImageInSubfolderWithoutPatch) {
    TempFolder folder;
    fs::create_directory(folder.path / "sub");
    make_us_image(folder.path / "sub" / "game.iso");
    expect_run(folder, banner() + us_detected("sub/game.iso") + us_patch_missing() + press_key());
}

TEST(Identification, EuropeanImageWithoutPatch) {
    TempFolder folder;
    make_eu_image(folder.path / "Orvelia.ISO");
    expect_run(folder, banner() + eu_detected("Orvelia.ISO") + eu_patch_missing() + press_key());
}

TEST(Identification, AValidImageAfterRejectedOnesIsFound) {
    TempFolder folder;
    fs::create_directories(folder.path / "a" / "b");
    make_sparse_file(folder.path / "a" / "bad.iso", US_SIZE, {});
    make_eu_image(folder.path / "a" / "b" / "good.iso");
    expect_run(folder, banner() + eu_detected("a/b/good.iso") + eu_patch_missing() + press_key());
}

TEST(Identification, AnImageThatCannotBeOpenedEndsTheRun) {
    if (running_windows_program()) {
        GTEST_SKIP() << "Wine does not list a link that leads nowhere";
    }
    TempFolder folder;
    fs::create_symlink(folder.path / "nowhere", folder.path / "x.iso");
    expect_run(folder, banner() + image_open_failed("x.iso") + press_key());
}

TEST(Identification, AnImageWhosePathIsTooLongIsPassedOver) {
    TempFolder folder;
    const fs::path deep = folder.path / std::string(120, 'd') / std::string(120, 'e');
    fs::create_directories(deep);
    make_us_image(deep / "deep.iso");
    fs::create_directory(folder.path / "short");
    make_eu_image(folder.path / "short" / "game.iso");
    expect_run(folder, banner() + eu_detected("short/game.iso") + eu_patch_missing() + press_key());
}

TEST(PatchChoice, PrefixIsCaseSensitiveWhileTheExtensionIsNot) {
    TempFolder folder;
    make_us_image(folder.path / "game.iso");
    write_file(folder.path / "ov1_patch_us-fr_v2.xdelta", NOT_A_PATCH);
    expect_run(folder, banner() + us_detected("game.iso") + us_patch_missing() + press_key());

    fs::create_directory(folder.path / "patches");
    write_file(folder.path / "patches" / "OV1_Patch_US-FR_v2.XDELTA", NOT_A_PATCH);
    expect_run(folder, banner() + us_detected("game.iso") + patching() + patch_failed() + press_key());
    // A failed patch leaves no output behind, and the image is untouched.
    EXPECT_FALSE(fs::exists(folder.path / "game_patched.iso"));
    EXPECT_EQ(fs::file_size(folder.path / "game.iso"), US_SIZE);
}

TEST(PatchChoice, OnlyTheOtherReleasesPatchCountsAsMissing) {
    TempFolder folder;
    make_eu_image(folder.path / "game.iso");
    write_file(folder.path / "OV1_Patch_US-FR_v2.xdelta", NOT_A_PATCH);
    write_file(folder.path / "OV1_Patch_EU-FR.xdelta", NOT_A_PATCH);  // 15 characters before the dot
    write_file(folder.path / "OV1_Patch_EU-FR_v2.xdelta.txt", NOT_A_PATCH);
    expect_run(folder, banner() + eu_detected("game.iso") + eu_patch_missing() + press_key());
}
