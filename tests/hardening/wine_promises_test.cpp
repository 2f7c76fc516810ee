// The Windows program under Wine: start folders with spaces and letters beyond ASCII,
// the root of a drive, and Ctrl+C during a run.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "e2e_support.h"
#include "expected_texts.h"
#include "program_runner.h"
#include "test_patches.h"

namespace fs = std::filesystem;

namespace {

const char* const US_PATCH_NAME = "OV1_Patch_US-FR_v1.xdelta";

std::string wine_prefix() {
    const char* own = std::getenv("WINEPREFIX");
    return own != nullptr ? own : (fs::temp_directory_path() / "orv-hardening-wine").string();
}

RunOptions wine_run(const fs::path& folder) {
    RunOptions options;
    options.wine = ORV_WINE;
    options.program = ORV_WINDOWS_PATCHER;
    options.folder = folder;
    options.environment.push_back({"WINEPREFIX", wine_prefix()});
    options.timeout_seconds = 300;
    return options;
}

std::string hex_of(const std::string& text) {
    std::string shown;
    for (const char raw : text) {
        const auto c = static_cast<unsigned char>(raw);
        char piece[8];
        std::snprintf(piece, sizeof piece, c < 32 || c > 126 ? "\\x%02X" : "%c", c);
        shown += piece;
    }
    return shown;
}

std::string as_text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

}  // namespace

TEST(WineFolders, SpacesAndLettersBeyondAsciiInTheStartFolder) {
    TempFolder folder;
    const fs::path start = folder.path / "Mes Jeux \xC3\xA9t\xC3\xA9";
    fs::create_directories(start / "sous dossier");
    const fs::path image = start / "sous dossier" / "Orv\xC3\xA9lia.iso";
    make_us_image_with_regions(image);
    Bytes expected;
    put_bytes(start / US_PATCH_NAME, small_us_patch(&expected));
    const FileStamp before = stamp_of(image);
    FileWatch watch(image);

    const ProgramRun run = run_program(wine_run(start));
    std::printf("what the Windows program printed: %s\n", hex_of(run.output).c_str());
    // Wine hands the ANSI functions the names in the Windows code page: the letters
    // shown are single bytes there, not the UTF-8 pairs of the Linux names.
    EXPECT_NE(run.output.find(patch_succeeded("").substr(0, 20)), std::string::npos);
    EXPECT_EQ(run.output.find("\xC3\xA9"), std::string::npos);
    EXPECT_EQ(file_bytes(start / "sous dossier" / "Orv\xC3\xA9lia_patched.iso"), as_text(expected));
    EXPECT_EQ(watch.changes(), "");
    EXPECT_TRUE(stamp_of(image) == before);
}

TEST(WineFolders, TheRootOfADrive) {
    TempFolder folder;
    fs::create_directories(folder.path / "sub");
    const fs::path image = folder.path / "sub" / "game.iso";
    make_us_image_with_regions(image);
    Bytes expected;
    put_bytes(folder.path / US_PATCH_NAME, small_us_patch(&expected));
    // Drive K: is the temporary folder; the program starts in K:\ itself.
    const fs::path drive = fs::path(wine_prefix()) / "dosdevices" / "k:";
    std::error_code ignored;
    fs::remove(drive, ignored);
    fs::create_directory_symlink(folder.path, drive);
    RunOptions options = wine_run(folder.path);
    options.program = "cmd";
    options.arguments = {"/c", "cd /d K:\\ && Z:" + std::string(ORV_WINDOWS_PATCHER)};
    const ProgramRun run = run_program(options);
    fs::remove(drive, ignored);
    EXPECT_EQ(run.output, banner() + us_detected("sub/game.iso") + patching() +
                              patch_succeeded("sub/game_patched.iso") + press_key())
        << hex_of(run.output);
    EXPECT_EQ(file_bytes(folder.path / "sub" / "game_patched.iso"), as_text(expected));
}

// SIGINT to the Wine process in the middle of a full-size US run: Wine turns it into
// the console's Ctrl+C event, and the run must clean up as it does natively.
TEST(WineInterruption, CtrlCDuringARun) {
    TempFolder folder;
    const fs::path image = folder.path / "game.iso";
    make_us_image(image);
    // The US image has the intermediate image's size: the identity patch copies all of it.
    write_identity_patch(folder.path / US_PATCH_NAME);
    const FileStamp before = stamp_of(image);
    FileWatch watch(image);
    RunOptions options = wine_run(folder.path);
    options.key_press = false;
    options.signal_when = progress(30);
    const ProgramRun run = run_program(options);
    std::printf("after SIGINT: exit %d, signal %d, %.1f s; last output: %s\n", run.exit_status, run.end_signal,
                run.seconds_after_signal, hex_of(run.output.substr(run.output.size() > 120 ? run.output.size() - 120 : 0)).c_str());
    ASSERT_TRUE(run.signal_sent) << hex_of(run.output);
    EXPECT_FALSE(run.timed_out);
    // The run failed on its ordinary path and ended without the prompt.
    const std::string failed = patch_failed();
    EXPECT_TRUE(run.output.size() > failed.size() &&
                run.output.compare(run.output.size() - failed.size(), std::string::npos, failed) == 0);
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_FALSE(fs::exists(folder.path / "game_patched.iso")) << "a half-made output was left behind";
    EXPECT_EQ(watch.changes(), "");
    EXPECT_TRUE(stamp_of(image) == before);
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    patcher_setup().patcher = ORV_WINDOWS_PATCHER;
    patcher_setup().wine = ORV_WINE;
    return RUN_ALL_TESTS();
}
