// The whole program, run as a player runs it, against a failing disk, files in the way
// of the ones it writes, hostile patches, hostile folders, and Ctrl+C at the prompt.
// After every run: the image was never opened for writing, success means the whole
// correct output, and a failure leaves nothing half-made.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "e2e_support.h"
#include "expected_texts.h"
#include "vcdiff/decode_types.h"

namespace fs = std::filesystem;

namespace {

const char* const US_PATCH_NAME = "OV1_Patch_US-FR_v1.xdelta";

// A US image, a small patch for it (or `patch`), and a guard on the image.
struct UsScene {
    TempFolder folder;
    fs::path image = folder.path / "game.iso";
    std::string expected;
    std::unique_ptr<FileGuard> guard;

    explicit UsScene(const Bytes* patch = nullptr) {
        make_us_image(image);
        const Bytes written = small_us_patch(&expected);
        write_file(folder.path / US_PATCH_NAME, patch != nullptr ? *patch : written);
        guard = std::make_unique<FileGuard>(image);
    }
    // Moves the image before the run (the rename is the test's, not the program's).
    void move_image(const fs::path& to) {
        fs::rename(image, to);
        image = to;
        guard = std::make_unique<FileGuard>(image);
    }
};

std::string us_start() { return banner() + us_detected("game.iso") + patching(); }

}  // namespace

TEST(ProgramFaultWalk, EveryFailingCallOfAUsRunEndsInSuccessOrACleanFailure) {
    UsScene scene;
    const fs::path output = scene.folder.path / "game_patched.iso";
    const std::string succeeded = us_start() + patch_succeeded("game_patched.iso") + press_key();
    // Failing identification reads or opens end the run earlier, with their own messages.
    const std::vector<std::string> failures = {us_start() + patch_failed() + press_key(),
                                               banner() + image_not_found() + press_key(),
                                               banner() + image_open_failed("game.iso") + press_key()};
    const std::vector<std::string> entries_before = folder_entries(scene.folder.path);

    TempFolder counts_folder;
    RunOptions options = patcher_in(scene.folder.path);
    options.program = ORV_PATCHER_FAULTS;
    options.environment.push_back({"ORV_FAULT_COUNTS", (counts_folder.path / "counts").string()});
    ASSERT_EQ(run_program(options).output, succeeded);
    ASSERT_EQ(read_file(output), scene.expected);
    const auto counts = read_counts(counts_folder.path / "counts");
    ASSERT_EQ(counts.size(), 5u);
    EXPECT_EQ(scene.guard->changes(), "");
    options.environment.pop_back();

    for (const auto& [operation, count] : counts) {
        for (const char* kind : {"fail", "short"}) {
            for (std::uint64_t k = 1; k <= count + 1; ++k) {
                const std::string fault = operation + ":" + std::to_string(k) + ":" + kind;
                SCOPED_TRACE(fault);
                fs::remove(output);
                options.environment.push_back({"ORV_FAULT", fault});
                const ProgramRun run = run_program(options);
                options.environment.pop_back();
                EXPECT_EQ(run.exit_status, 0);
                EXPECT_EQ(scene.guard->changes(), "");
                if (run.output == succeeded) {
                    EXPECT_EQ(read_file(output), scene.expected) << "success with a wrong output";
                    // Files read whole may fail to close unseen; no other failing call may. The
                    // output is closed third from last (then the image, then the patch).
                    if (k <= count) {
                        EXPECT_TRUE(operation == "close" && k != count - 2) << "a failing call went unnoticed";
                    }
                    continue;
                }
                EXPECT_NE(std::find(failures.begin(), failures.end(), run.output), failures.end()) << run.output;
                EXPECT_LE(k, count) << "a run without a fault failed";
                EXPECT_EQ(folder_entries(scene.folder.path), entries_before) << "something was left behind";
            }
        }
    }
}

// The intermediate image's name is the program's own: a leftover file or link of that
// name is removed, never followed; only a folder stops the run. A console whose reader
// has gone changes nothing either. The rebuild fails at its second write, so that each
// run is short and ends on its failure path.
TEST(IntermediateImage, WhatIsInItsPlaceGoesUnfollowedAndOnlyAFolderStopsTheRun) {
    for (const std::string kind : {"file", "link to the image", "hard link to the image", "dangling link", "folder",
                                   "closed console"}) {
        SCOPED_TRACE(kind);
        TempFolder folder;
        const fs::path image = folder.path / "game.iso";
        const fs::path temp = folder.path / "game_temp.iso";
        make_eu_image(image);
        write_file(folder.path / "OV1_Patch_EU-FR_v1.xdelta", "never read: the rebuild fails first");
        // An old output stays too: the run stops before it deletes it.
        write_file(folder.path / "game_patched.iso", "an earlier output");
        if (kind == "file") write_file(temp, "left by a run that was killed");
        if (kind == "folder") fs::create_directory(temp);
        if (kind == "hard link to the image") fs::create_hard_link(image, temp);
        if (kind == "link to the image" || kind == "dangling link") {
            fs::create_symlink(kind == "dangling link" ? folder.path / "nowhere" : image, temp);
        }
        FileGuard guard(image);
        RunOptions options = patcher_in(folder.path);
        options.program = ORV_PATCHER_FAULTS;
        options.environment.push_back({"ORV_FAULT", "write:2:fail"});
        options.output_closed = kind == "closed console";
        const ProgramRun run = run_program(options);
        EXPECT_EQ(run.exit_status, 0);
        const std::string end = kind == "folder" ? temp_create_failed() : patch_failed();
        EXPECT_EQ(run.output, options.output_closed ? "" : banner() + eu_detected("game.iso") + patching() +
                                                               (kind == "folder" ? "" : progress(0)) + end + press_key());
        EXPECT_EQ(fs::is_directory(temp), kind == "folder");
        EXPECT_TRUE(kind == "folder" || !fs::exists(fs::symlink_status(temp)));
        EXPECT_FALSE(fs::exists(folder.path / "nowhere"));
        EXPECT_EQ(read_file(folder.path / "game_patched.iso"), "an earlier output");
        // Removing a second hard link lowers the image's link count, and does nothing else to it.
        EXPECT_EQ(guard.changes(), kind == "hard link to the image" ? "attributes-unlinked-or-moved " : "");
    }
}

namespace {

Bytes patch_of(const FileHeaderSpec& header, const std::vector<WindowSpec>& windows, const Bytes& rest = {}) {
    Bytes patch;
    PatchSink sink = sink_to_bytes(&patch);
    write_file_header(&sink, header);
    for (const WindowSpec& window : windows) write_window(&sink, window);
    patch.insert(patch.end(), rest.begin(), rest.end());
    return patch;
}

}  // namespace

TEST(HostilePatch, EveryMalformedPatchEndsWithTheGenericFailureAndNoOutput) {
    FileHeaderSpec huge_header;   // an application header of 2^62 bytes: no allocation can hold it
    huge_header.indicator = 0x04;
    huge_header.app_header_length = std::uint64_t{1} << 62;
    WindowSpec huge_window;
    huge_window.target_length = std::uint64_t{1} << 40;
    InstructionEncoder past_end;
    encoder_start(&past_end, 5000);
    encode_copy(&past_end, 0, 5000);
    InstructionEncoder ahead;
    encoder_start(&ahead, 0);
    encode_add(&ahead, Bytes(10, 1));
    encode_copy(&ahead, 50, 10);
    WindowSpec long_sections;   // section lengths far beyond the window's own length
    long_sections.target_length = 10;
    long_sections.encoding_length = 5;
    long_sections.data = Bytes(100, 7);
    const std::vector<std::pair<std::string, Bytes>> patches = {
        {"empty", {}},
        {"not a patch", Bytes{'h', 'e', 'l', 'l', 'o'}},
        {"huge application header", patch_of(huge_header, {})},
        {"huge target window", patch_of({}, {huge_window})},
        {"copy past the image's end", patch_of({}, {window_from_encoder(&past_end, VCD_SOURCE, 5000, US_SIZE - 100)})},
        {"copy ahead of the target", patch_of({}, {window_from_encoder(&ahead, 0)})},
        {"sections longer than the window", patch_of({}, {long_sections})},
        {"integer that never ends", patch_of({}, {}, Bytes(40, 0xFF))},
    };
    for (const auto& [name, patch] : patches) {
        SCOPED_TRACE(name);
        UsScene scene(&patch);
        const ProgramRun run = run_program(patcher_in(scene.folder.path));
        EXPECT_FALSE(run.timed_out);
        EXPECT_EQ(run.output, us_start() + patch_failed() + press_key());
        EXPECT_FALSE(fs::exists(scene.folder.path / "game_patched.iso"));
        EXPECT_EQ(scene.guard->changes(), "");
    }
}

TEST(HostileFolder, NamesWithBytesAbove127AreFoundAndPatched) {
    // UTF-8 (as Linux names are) and a lone Latin-1 byte (as older tools leave them).
    for (const std::string sub : {"Jeux \xC3\xA9t\xC3\xA9", "caf\xE9"}) {
        SCOPED_TRACE(sub);
        UsScene scene;
        fs::create_directory(scene.folder.path / sub);
        scene.move_image(scene.folder.path / sub / "Orv\xC3\xA9lia \xE9.iso");
        const ProgramRun run = run_program(patcher_in(scene.folder.path));
        const std::string shown_output = sub + "/Orv\xC3\xA9lia \xE9_patched.iso";
        EXPECT_EQ(run.output, banner() + us_detected(sub + "/Orv\xC3\xA9lia \xE9.iso") + patching() +
                                  patch_succeeded(shown_output) + press_key());
        EXPECT_EQ(read_file(scene.folder.path / shown_output), scene.expected);
        EXPECT_EQ(scene.guard->changes(), "");
    }
}

TEST(HostileFolder, AnOutputPathLongerThanTheBuffersIsRefusedWithoutWriting) {
    // The image's path fits, the output's ("_patched.iso" is 8 characters longer) does not.
    UsScene scene;
    const std::string name = std::string(254 - scene.folder.path.string().size() - 1 - 8, 'n') + ".iso";
    scene.move_image(scene.folder.path / name);
    const std::vector<std::string> before = folder_entries(scene.folder.path);
    const ProgramRun run = run_program(patcher_in(scene.folder.path));
    EXPECT_EQ(run.output, banner() + us_detected(name) + patching() + patch_failed() + press_key());
    EXPECT_EQ(folder_entries(scene.folder.path), before);
    EXPECT_EQ(scene.guard->changes(), "");
}

TEST(HostileFolder, DeepTreesAndLinkLoopsEndAndTheImageBesideThemIsFound) {
    TempFolder folder;
    fs::path deep = folder.path / "deep";
    for (int level = 0; level < 300; ++level) deep /= "d";
    fs::create_directories(deep);
    make_us_image(deep / "toodeep.iso");
    fs::create_directory(folder.path / "loops");
    fs::create_directory_symlink(".", folder.path / "loops" / "self");
    fs::create_directory_symlink("..", folder.path / "loops" / "parent");
    fs::create_directory_symlink(folder.path, folder.path / "loops" / "start");
    fs::create_directory(folder.path / "z");
    make_us_image(folder.path / "z" / "game.iso");
    RunOptions options = patcher_in(folder.path);
    options.timeout_seconds = 60;
    const ProgramRun run = run_program(options);
    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.output, banner() + us_detected("z/game.iso") + us_patch_missing() + press_key());
}

TEST(HostileFolder, FoldersThatCannotBeReadArePassedOver) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run the program as another user";
    TempFolder folder;
    fs::permissions(folder.path, fs::perms(0755));
    fs::create_directory(folder.path / "locked");
    make_us_image(folder.path / "locked" / "hidden.iso");
    fs::permissions(folder.path / "locked", fs::perms::none);
    fs::create_directory(folder.path / "open");
    make_us_image(folder.path / "open" / "game.iso");
    RunOptions options = patcher_in(folder.path);
    options.as_nobody = true;
    EXPECT_EQ(run_program(options).output, banner() + us_detected("open/game.iso") + us_patch_missing() + press_key());
    fs::remove_all(folder.path / "open");
    EXPECT_EQ(run_program(options).output, banner() + image_not_found() + press_key());
    fs::permissions(folder.path / "locked", fs::perms(0755));
}

TEST(Interruption, CtrlCAtThePromptEndsTheProgram) {
    TempFolder folder;
    RunOptions options = patcher_in(folder.path);
    options.key_press = false;
    options.signal_when = press_key();
    options.timeout_seconds = 30;
    const ProgramRun run = run_program(options);
    EXPECT_TRUE(run.signal_sent);
    EXPECT_EQ(run.end_signal, SIGINT);
    EXPECT_EQ(run.output, banner() + image_not_found() + press_key());
}
