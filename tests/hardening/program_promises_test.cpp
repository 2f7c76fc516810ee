// The whole program, run as a player runs it, against a failing disk, files in the
// way of the ones it writes, hostile patches, hostile folders, and Ctrl+C at the
// prompt. After every run: the image is as it was and was never opened for writing,
// success means the whole correct output, and a failure leaves nothing half-made.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "e2e_support.h"
#include "expected_texts.h"
#include "program_runner.h"
#include "test_patches.h"
#include "vcdiff/decode_types.h"

namespace fs = std::filesystem;

namespace {

const char* const US_PATCH_NAME = "OV1_Patch_US-FR_v1.xdelta";
const char* const EU_PATCH_NAME = "OV1_Patch_EU-FR_v1.xdelta";

// The sanitizer build of the program must report an allocation it cannot make as a
// failure, as the C library does, rather than stop the process.
const std::pair<std::string, std::string> SANITIZER_ALLOCATIONS{"ASAN_OPTIONS", "allocator_may_return_null=1"};

RunOptions native_run(const fs::path& folder) {
    RunOptions options;
    options.program = ORV_PATCHER;
    options.folder = folder;
    options.environment.push_back(SANITIZER_ALLOCATIONS);
    options.timeout_seconds = 120;
    return options;
}

std::string as_text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// A US image with real bytes in two regions, a small patch for it, and the watch on
// the image that sees any open for writing.
struct UsScene {
    TempFolder folder;
    fs::path image;
    Bytes expected;
    FileStamp image_stamp;
    std::unique_ptr<FileWatch> watch;

    explicit UsScene(const Bytes* patch = nullptr, const std::string& image_name = "game.iso") {
        image = folder.path / image_name;
        make_us_image_with_regions(image);
        const Bytes written = small_us_patch(&expected);
        put_bytes(folder.path / US_PATCH_NAME, patch != nullptr ? *patch : written);
        image_stamp = stamp_of(image);
        watch = std::make_unique<FileWatch>(image);
    }

    // Moves the image before the run (the rename is the test's, not the program's).
    void move_image(const fs::path& to) {
        fs::rename(image, to);
        image = to;
        image_stamp = stamp_of(image);
        watch = std::make_unique<FileWatch>(image);
    }

    // Promise 1, checked after each run: same file, same stamps, never opened for writing.
    void expect_image_untouched() {
        EXPECT_EQ(watch->changes(), "");
        EXPECT_TRUE(stamp_of(image) == image_stamp) << "the image was changed";
    }
};

fs::path output_beside(const fs::path& image) {
    const std::string path = image.string();
    return path.substr(0, path.size() - 4) + "_patched.iso";
}
fs::path temp_beside(const fs::path& image) {
    const std::string path = image.string();
    return path.substr(0, path.size() - 4) + "_temp.iso";
}

std::map<std::string, std::uint64_t> read_counts(const fs::path& path) {
    std::map<std::string, std::uint64_t> counts;
    std::ifstream in(path);
    std::string name;
    std::uint64_t count = 0;
    while (in >> name >> count) counts[name] = count;
    return counts;
}

}  // namespace

// ---- Promises 1 to 3 against a failing disk: every k of every call of a US run ------

TEST(ProgramFaultWalk, EveryFailingCallOfAUsRunEndsInSuccessOrACleanFailure) {
    UsScene scene;
    const fs::path output = output_beside(scene.image);
    const std::string start = banner() + us_detected("game.iso");
    const std::string succeeded = start + patching() + patch_succeeded("game_patched.iso") + press_key();
    const std::string failed = start + patching() + patch_failed() + press_key();
    // Failing identification reads or opens end the run earlier, with its own messages.
    const std::string not_found = banner() + image_not_found() + press_key();
    const std::string open_failed = banner() + image_open_failed("game.iso") + press_key();
    const std::vector<std::string> entries_before = folder_entries(scene.folder.path);
    std::vector<std::string> entries_after_success = entries_before;
    entries_after_success.push_back("game_patched.iso");
    std::sort(entries_after_success.begin(), entries_after_success.end());

    TempFolder counts_folder;
    RunOptions options = native_run(scene.folder.path);
    options.program = ORV_PATCHER_FAULTS;
    options.environment.push_back({"ORV_FAULT_COUNTS", (counts_folder.path / "counts").string()});
    const ProgramRun clean = run_program(options);
    ASSERT_EQ(clean.output, succeeded);
    ASSERT_EQ(file_bytes(output), as_text(scene.expected));
    const auto counts = read_counts(counts_folder.path / "counts");
    ASSERT_EQ(counts.size(), 5u);
    scene.expect_image_untouched();
    options.environment.pop_back();

    int runs = 0;
    std::map<std::string, int> outcomes;
    for (const auto& [operation, count] : counts) {
        for (const char* kind : {"fail", "short"}) {
            for (std::uint64_t k = 1; k <= count + 1; ++k) {
                const std::string fault = operation + ":" + std::to_string(k) + ":" + kind;
                SCOPED_TRACE(fault);
                fs::remove(output);
                options.environment.push_back({"ORV_FAULT", fault});
                const ProgramRun run = run_program(options);
                options.environment.pop_back();
                ++runs;
                EXPECT_EQ(run.exit_status, 0);
                scene.expect_image_untouched();
                if (run.output == succeeded) {
                    ++outcomes["success"];
                    EXPECT_EQ(file_bytes(output), as_text(scene.expected)) << "success with a wrong output";
                    EXPECT_EQ(folder_entries(scene.folder.path), entries_after_success);
                    // Reading files may fail to close after being read whole; nothing else may fail unseen.
                    if (k <= count) {
                        EXPECT_EQ(operation, "close") << "a failing call went unnoticed";
                    }
                    continue;
                }
                if (run.output == failed) {
                    ++outcomes["patch failed"];
                } else if (run.output == not_found) {
                    ++outcomes["image not found"];
                } else if (run.output == open_failed) {
                    ++outcomes["image open failed"];
                } else {
                    ADD_FAILURE() << "unexpected output:\n" << run.output;
                }
                EXPECT_LE(k, count) << "a run without a fault failed";
                EXPECT_EQ(folder_entries(scene.folder.path), entries_before) << "something was left behind";
            }
        }
    }
    std::ostringstream summary;
    for (const auto& [name, n] : outcomes) summary << " " << name << " " << n << ";";
    std::printf("whole-program US walk: %d runs (clean run: open %llu, read %llu, write %llu, seek %llu, close %llu):%s\n",
                runs, static_cast<unsigned long long>(counts.at("open")),
                static_cast<unsigned long long>(counts.at("read")), static_cast<unsigned long long>(counts.at("write")),
                static_cast<unsigned long long>(counts.at("seek")), static_cast<unsigned long long>(counts.at("close")),
                summary.str().c_str());
}

// ---- Promise 3: files in the way of the intermediate image ----------------------------

namespace {

struct EuScene {
    TempFolder folder;
    fs::path image;
    FileStamp image_stamp;
    std::unique_ptr<FileWatch> watch;

    EuScene() {
        image = folder.path / "game.iso";
        make_eu_image(image);
        write_file(folder.path / EU_PATCH_NAME, "not read before the intermediate image exists");
        image_stamp = stamp_of(image);
        watch = std::make_unique<FileWatch>(image);
    }
    void expect_image_untouched() {
        EXPECT_EQ(watch->changes(), "");
        EXPECT_TRUE(stamp_of(image) == image_stamp) << "the image was changed";
    }
};

}  // namespace

TEST(IntermediateImage, AnExistingFileOfItsNameIsNeitherTruncatedNorDeleted) {
    EuScene scene;
    const fs::path temp = temp_beside(scene.image);
    write_file(temp, "the player's own file");
    // An old output stays too: the run stops before it deletes it.
    write_file(output_beside(scene.image), "an earlier output");
    const ProgramRun run = run_program(native_run(scene.folder.path));
    EXPECT_EQ(run.output, banner() + eu_detected("game.iso") + patching() + temp_create_failed() + press_key());
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(read_file(temp), "the player's own file");
    EXPECT_EQ(read_file(output_beside(scene.image)), "an earlier output");
    scene.expect_image_untouched();
}

TEST(IntermediateImage, ALinkOfItsNameIsNeverFollowed) {
    for (const bool dangling : {false, true}) {
        SCOPED_TRACE(dangling ? "dangling link" : "link to the image");
        EuScene scene;
        const fs::path temp = temp_beside(scene.image);
        // A link to the image itself: following it would truncate the player's image.
        fs::create_symlink(dangling ? scene.folder.path / "nowhere" : scene.image, temp);
        const ProgramRun run = run_program(native_run(scene.folder.path));
        EXPECT_EQ(run.output, banner() + eu_detected("game.iso") + patching() + temp_create_failed() + press_key());
        EXPECT_TRUE(fs::is_symlink(temp));
        EXPECT_FALSE(fs::exists(scene.folder.path / "nowhere"));
        scene.expect_image_untouched();
    }
}

TEST(IntermediateImage, AFailedRebuildDeletesItAndLeavesAnOldOutputAlone) {
    EuScene scene;
    write_file(output_beside(scene.image), "an earlier output");
    RunOptions options = native_run(scene.folder.path);
    options.program = ORV_PATCHER_FAULTS;
    options.environment.push_back({"ORV_FAULT", "write:3:fail"});
    const ProgramRun run = run_program(options);
    EXPECT_EQ(run.output.find(patch_failed()), run.output.size() - patch_failed().size() - press_key().size())
        << run.output;
    EXPECT_FALSE(fs::exists(fs::symlink_status(temp_beside(scene.image))));
    EXPECT_EQ(read_file(output_beside(scene.image)), "an earlier output");
    scene.expect_image_untouched();
}

// ---- Promise 4: hostile patches ---------------------------------------------------------

namespace {

Bytes header_then(const Bytes& rest) {
    Bytes patch;
    PatchSink sink = sink_to_bytes(&patch);
    write_file_header(&sink, FileHeaderSpec{});
    patch.insert(patch.end(), rest.begin(), rest.end());
    return patch;
}

Bytes one_window(const WindowSpec& window) {
    Bytes patch;
    PatchSink sink = sink_to_bytes(&patch);
    write_file_header(&sink, FileHeaderSpec{});
    write_window(&sink, window);
    return patch;
}

}  // namespace

TEST(HostilePatch, EveryMalformedPatchEndsWithTheGenericFailureAndNoOutput) {
    std::vector<std::pair<std::string, Bytes>> patches;
    patches.push_back({"empty", {}});
    patches.push_back({"not a patch", Bytes{'h', 'e', 'l', 'l', 'o'}});
    Bytes expected;
    Bytes good = small_us_patch(&expected);
    patches.push_back({"cut inside a window", Bytes(good.begin(), good.begin() + static_cast<long>(good.size() / 2))});
    {
        // An application header announced as 2^62 bytes: no allocation can hold it.
        FileHeaderSpec header;
        header.indicator = 0x04;
        header.app_header_length = std::uint64_t{1} << 62;
        Bytes patch;
        PatchSink sink = sink_to_bytes(&patch);
        write_file_header(&sink, header);
        patches.push_back({"huge application header", patch});
    }
    {
        WindowSpec window;
        window.target_length = std::uint64_t{1} << 40;
        patches.push_back({"huge target window", one_window(window)});
    }
    {
        // Copies from past the end of the image.
        InstructionEncoder encoder;
        encoder_start(&encoder, 5000);
        encode_copy(&encoder, 0, 5000);
        patches.push_back({"copy past the image's end",
                           one_window(window_from_encoder(&encoder, VCD_SOURCE, 5000, US_SIZE - 100))});
    }
    {
        // Copies from a target byte not yet written.
        InstructionEncoder encoder;
        encoder_start(&encoder, 0);
        encode_add(&encoder, Bytes(10, 1));
        encode_copy(&encoder, 50, 10);
        patches.push_back({"copy ahead of the target", one_window(window_from_encoder(&encoder, 0))});
    }
    {
        // Section lengths far beyond the window's own length.
        WindowSpec window;
        window.target_length = 10;
        window.encoding_length = 5;
        window.data = Bytes(100, 7);
        patches.push_back({"sections longer than the window", one_window(window)});
    }
    patches.push_back({"integer that never ends", header_then(Bytes(40, 0xFF))});

    for (const auto& [name, patch] : patches) {
        SCOPED_TRACE(name);
        UsScene scene(&patch);
        const ProgramRun run = run_program(native_run(scene.folder.path));
        EXPECT_FALSE(run.timed_out);
        EXPECT_EQ(run.output, banner() + us_detected("game.iso") + patching() + patch_failed() + press_key());
        EXPECT_EQ(run.exit_status, 0);
        EXPECT_FALSE(fs::exists(output_beside(scene.image)));
        scene.expect_image_untouched();
    }
}

TEST(HostilePatch, AWrongChecksumNamesTheImageAndLeavesNoOutput) {
    Bytes expected;
    const Bytes patch = small_us_patch(&expected, 3);
    UsScene scene(&patch);
    const ProgramRun run = run_program(native_run(scene.folder.path));
    EXPECT_EQ(run.output, banner() + us_detected("game.iso") + patching() + crc_failed("game.iso") + press_key());
    EXPECT_FALSE(fs::exists(output_beside(scene.image)));
    scene.expect_image_untouched();
}

// ---- Promise 5: hostile folders ---------------------------------------------------------

TEST(HostileFolder, NamesWithBytesAbove127AreFoundAndPatched) {
    // UTF-8 (as Linux names are) and a lone Latin-1 byte (as older tools leave them).
    for (const std::string& sub : {std::string("Jeux \xC3\xA9t\xC3\xA9"), std::string("caf\xE9")}) {
        SCOPED_TRACE(sub);
        UsScene scene;
        fs::create_directory(scene.folder.path / sub);
        const std::string image_name = "Orv\xC3\xA9lia \xE9.iso";
        scene.move_image(scene.folder.path / sub / image_name);
        const ProgramRun run = run_program(native_run(scene.folder.path));
        const std::string shown = sub + "/" + image_name;
        const std::string shown_output = sub + "/Orv\xC3\xA9lia \xE9_patched.iso";
        EXPECT_EQ(run.output,
                  banner() + us_detected(shown) + patching() + patch_succeeded(shown_output) + press_key());
        EXPECT_EQ(read_file(scene.folder.path / shown_output), as_text(scene.expected));
        scene.expect_image_untouched();
    }
}

TEST(HostileFolder, PathsLongerThanTheBuffersAreRefusedWithoutWriting) {
    {
        // The image's own path does not fit: it is passed over.
        UsScene scene;
        fs::path deep = scene.folder.path;
        while (deep.string().size() < 260) deep /= std::string(40, 'x');
        fs::create_directories(deep);
        scene.move_image(deep / "game.iso");
        const ProgramRun run = run_program(native_run(scene.folder.path));
        EXPECT_EQ(run.output, banner() + image_not_found() + press_key());
        EXPECT_EQ(run.exit_status, 0);
    }
    {
        // The image's path fits, the output's ("_patched.iso" is 8 characters longer) does not.
        UsScene scene;
        const std::size_t room = 254 - scene.folder.path.string().size() - 1;
        const std::string name = std::string(room - 4 - 4, 'n') + ".iso";   // 4 short of the limit
        scene.move_image(scene.folder.path / name);
        const std::vector<std::string> before = folder_entries(scene.folder.path);
        const ProgramRun run = run_program(native_run(scene.folder.path));
        EXPECT_EQ(run.output, banner() + us_detected(name) + patching() + patch_failed() + press_key());
        EXPECT_EQ(folder_entries(scene.folder.path), before);
        scene.expect_image_untouched();
    }
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
    RunOptions options = native_run(folder.path);
    options.timeout_seconds = 60;
    const ProgramRun run = run_program(options);
    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.output, banner() + us_detected("z/game.iso") + us_patch_missing() + press_key());
    EXPECT_EQ(run.exit_status, 0);
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
    RunOptions options = native_run(folder.path);
    options.as_nobody = true;
    const ProgramRun run = run_program(options);
    EXPECT_EQ(run.output, banner() + us_detected("open/game.iso") + us_patch_missing() + press_key());
    fs::remove_all(folder.path / "open");
    const ProgramRun alone = run_program(options);
    EXPECT_EQ(alone.output, banner() + image_not_found() + press_key());
    fs::permissions(folder.path / "locked", fs::perms(0755));
}

// ---- Interruption before any file is at risk --------------------------------------------

TEST(Interruption, CtrlCAtThePromptEndsTheProgram) {
    TempFolder folder;
    RunOptions options = native_run(folder.path);
    options.key_press = false;
    options.signal_when = press_key();
    options.timeout_seconds = 30;
    const ProgramRun run = run_program(options);
    EXPECT_TRUE(run.signal_sent);
    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.end_signal, SIGINT);
    EXPECT_EQ(run.output, banner() + image_not_found() + press_key());
}
