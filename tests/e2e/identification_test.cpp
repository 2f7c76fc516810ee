// What a player reads, byte for byte: which image is taken, which patch, the patch
// failures that leave nothing behind, and (under Wine) the folders Windows players have.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "e2e_support.h"
#include "expected_texts.h"

namespace fs = std::filesystem;

namespace {

const char* const US_PATCH = "OV1_Patch_US-FR_v1.xdelta";
// Choosing a file that is not a patch shows the patch step start and fail at once:
// that is how these tests see which file was chosen.
const std::string NOT_A_PATCH = "this is not a patch";

void expect_run(const fs::path& folder, const std::string& expected) {
    const ProgramRun run = run_program(patcher_in(folder));
    EXPECT_EQ(run.output, expected);
    EXPECT_EQ(run.exit_status, 0);
}

std::string us_failed() { return banner() + us_detected("game.iso") + patching() + patch_failed() + press_key(); }

}  // namespace

TEST(Identification, NoImageAndImagesThatAreNotOrveliaArePassedOverSilently) {
    TempFolder folder;
    write_file(folder.path / "readme.txt", "hello");
    expect_run(folder.path, banner() + image_not_found() + press_key());

    make_sparse_file(folder.path / "small.iso", 4096, {});
    make_sparse_file(folder.path / "wrongboot.iso", US_SIZE, {{13093328, "cdrom0:\\SLUS_000.00;1"}});
    make_sparse_file(folder.path / "wrongmarker.iso", US_SIZE, {us_identity()[0], {14500752, "\x82\x62\x82\x80"}});
    make_sparse_file(folder.path / "noterminator.iso", EU_SIZE, {{12693144, "cdrom0:\\SXES_608.42;1X"}});
    // 4 GiB more than the US size: its low 32 bits are the US size.
    make_sparse_file(folder.path / "huge.iso", US_SIZE + (std::uint64_t{1} << 32), us_identity());
    // Only reached through a link to a folder elsewhere: links are never followed (Wine's too).
    TempFolder elsewhere;
    make_us_image(elsewhere.path / "linked.iso");
    fs::create_directory_symlink(elsewhere.path, folder.path / "link");
    expect_run(folder.path, banner() + image_not_found() + press_key());
}

TEST(Identification, EachReleaseIsNamedAndOnlyItsOwnPatchCounts) {
    TempFolder us;
    fs::create_directory(us.path / "sub");
    make_us_image(us.path / "sub" / "game.iso");
    expect_run(us.path, banner() + us_detected("sub/game.iso") + us_patch_missing() + press_key());

    TempFolder eu;
    make_eu_image(eu.path / "Orvelia.ISO");
    write_file(eu.path / "OV1_Patch_US-FR_v2.xdelta", NOT_A_PATCH);
    write_file(eu.path / "OV1_Patch_EU-FR.xdelta", NOT_A_PATCH);  // 15 characters before the dot
    write_file(eu.path / "OV1_Patch_EU-FR_v2.xdelta.txt", NOT_A_PATCH);
    expect_run(eu.path, banner() + eu_detected("Orvelia.ISO") + eu_patch_missing() + press_key());
}

TEST(Identification, AnImageThatCannotBeOpenedEndsTheRun) {
    if (running_windows_program()) GTEST_SKIP() << "Wine does not list a link that leads nowhere";
    TempFolder folder;
    fs::create_symlink(folder.path / "nowhere", folder.path / "x.iso");
    expect_run(folder.path, banner() + image_open_failed("x.iso") + press_key());
}

TEST(Identification, AnImageWhosePathIsTooLongIsPassedOver) {
    TempFolder folder;
    const fs::path deep = folder.path / std::string(120, 'd') / std::string(120, 'e');
    fs::create_directories(deep);
    make_us_image(deep / "deep.iso");
    fs::create_directory(folder.path / "short");
    make_eu_image(folder.path / "short" / "game.iso");
    expect_run(folder.path, banner() + eu_detected("short/game.iso") + eu_patch_missing() + press_key());
}

TEST(PatchChoice, PrefixIsCaseSensitiveWhileTheExtensionIsNot) {
    TempFolder folder;
    make_us_image(folder.path / "game.iso");
    write_file(folder.path / "ov1_patch_us-fr_v2.xdelta", NOT_A_PATCH);
    expect_run(folder.path, banner() + us_detected("game.iso") + us_patch_missing() + press_key());

    fs::create_directory(folder.path / "patches");
    write_file(folder.path / "patches" / "OV1_Patch_US-FR_v2.XDELTA", NOT_A_PATCH);
    expect_run(folder.path, us_failed());
}

TEST(PatchFailure, ACutPatchFailsAndAnOldOutputIsGoneAllTheSame) {
    std::string expected;
    const Bytes patch = small_us_patch(&expected);
    // Cut after the first windows, inside the file header, and right after it: no window at all.
    for (const std::size_t length : {patch.size() / 2, std::size_t{2}, std::size_t{5}}) {
        SCOPED_TRACE(length);
        TempFolder folder;
        make_us_image(folder.path / "game.iso");
        write_file(folder.path / "game_patched.iso", "an old patched image");
        write_file(folder.path / US_PATCH, Bytes(patch.begin(), patch.begin() + static_cast<std::ptrdiff_t>(length)));
        expect_run(folder.path, us_failed());
        EXPECT_FALSE(fs::exists(folder.path / "game_patched.iso"));
        EXPECT_EQ(fs::file_size(folder.path / "game.iso"), US_SIZE);
    }
}

TEST(PatchFailure, AFolderNamedLikeTheOutputIsAFailureAndStays) {
    TempFolder folder;
    make_us_image(folder.path / "game.iso");
    fs::create_directory(folder.path / "game_patched.iso");
    std::string expected;
    write_file(folder.path / US_PATCH, small_us_patch(&expected));
    expect_run(folder.path, us_failed());
    EXPECT_TRUE(fs::is_directory(folder.path / "game_patched.iso"));
    EXPECT_TRUE(fs::is_empty(folder.path / "game_patched.iso"));
}

// ---- Only under Wine ----------------------------------------------------------------

TEST(WineOnly, SpacesAndLettersBeyondAsciiInTheStartFolder) {
    if (!running_windows_program()) GTEST_SKIP() << "Wine only";
    TempFolder folder;
    const fs::path start = folder.path / "Mes Jeux \xC3\xA9t\xC3\xA9";
    fs::create_directories(start / "sous dossier");
    const fs::path image = start / "sous dossier" / "Orv\xC3\xA9lia.iso";
    make_us_image(image);
    std::string expected;
    write_file(start / US_PATCH, small_us_patch(&expected));
    FileGuard guard(image);
    const ProgramRun run = run_program(patcher_in(start));
    // Wine hands the ANSI functions the names in the Windows code page: single bytes
    // there, not the UTF-8 pairs of the Linux names.
    EXPECT_NE(run.output.find(patch_succeeded("").substr(0, 20)), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("\xC3\xA9"), std::string::npos);
    EXPECT_EQ(read_file(start / "sous dossier" / "Orv\xC3\xA9lia_patched.iso"), expected);
    EXPECT_EQ(guard.changes(), "");
}

TEST(WineOnly, TheRootOfADrive) {
    if (!running_windows_program()) GTEST_SKIP() << "Wine only";
    TempFolder folder;
    fs::create_directories(folder.path / "sub");
    make_us_image(folder.path / "sub" / "game.iso");
    std::string expected;
    write_file(folder.path / US_PATCH, small_us_patch(&expected));
    // Drive K: is the temporary folder, in the prefix scripts/wine-run uses; the program starts in K:\ itself.
    const char* own = std::getenv("ORV_WINEPREFIX");
    const char* home = std::getenv("HOME");
    const std::string prefix = own != nullptr ? own : std::string(home != nullptr ? home : "/tmp") + "/.wine-orvelia";
    const fs::path drive = fs::path(prefix) / "dosdevices" / "k:";
    std::error_code ignored;
    fs::remove(drive, ignored);
    fs::create_directory_symlink(folder.path, drive);
    RunOptions options = patcher_in(folder.path);
    options.environment.push_back({"ORV_WINEPREFIX", prefix});
    options.program = "cmd";
    options.arguments = {"/c", "cd /d K:\\ && Z:" + patcher_setup().patcher};
    const ProgramRun run = run_program(options);
    fs::remove(drive, ignored);
    EXPECT_EQ(run.output, banner() + us_detected("sub/game.iso") + patching() +
                              patch_succeeded("sub/game_patched.iso") + press_key())
        << "exit " << run.exit_status;
    EXPECT_EQ(read_file(folder.path / "sub" / "game_patched.iso"), expected);
}
