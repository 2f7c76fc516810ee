// Full-size European runs (2.6 GB written twice): Ctrl+C during the rebuild and during
// the patch application, and a handful of failing calls, each checked against the
// promises: the image untouched, nothing half-made left, a prompt end.
#include <signal.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

#include "e2e_support.h"
#include "expected_texts.h"
#include "program_runner.h"
#include "test_patches.h"

namespace fs = std::filesystem;

namespace {

// A European image and an identity patch, made once for every test of this file.
struct EuropeanScene {
    TempFolder folder;
    fs::path image, temp, output;
    FileStamp image_stamp;
    std::string identification;

    EuropeanScene() {
        image = folder.path / "Orvelia EU.iso";
        temp = folder.path / "Orvelia EU_temp.iso";
        output = folder.path / "Orvelia EU_patched.iso";
        make_eu_image(image);
        write_identity_patch(folder.path / "OV1_Patch_EU-FR_identity.xdelta");
        image_stamp = stamp_of(image);
    }
};

EuropeanScene& scene() {
    static EuropeanScene* shared = new EuropeanScene;
    return *shared;
}

RunOptions full_run(const char* program) {
    RunOptions options;
    options.program = program;
    options.folder = scene().folder.path;
    options.timeout_seconds = 600;
    return options;
}

std::string run_start() { return banner() + eu_detected("Orvelia EU.iso") + patching(); }

// Promises 1 and 3 after a run that did not succeed.
void expect_nothing_left_and_image_untouched(FileWatch* watch) {
    EXPECT_FALSE(fs::exists(fs::symlink_status(scene().temp))) << "the intermediate image was left behind";
    EXPECT_FALSE(fs::exists(fs::symlink_status(scene().output))) << "a half-made output was left behind";
    EXPECT_EQ(watch->changes(), "");
    EXPECT_TRUE(stamp_of(scene().image) == scene().image_stamp) << "the image was changed";
}

std::map<std::string, std::uint64_t> read_counts(const fs::path& path) {
    std::map<std::string, std::uint64_t> counts;
    std::ifstream in(path);
    std::string name;
    std::uint64_t count = 0;
    while (in >> name >> count) counts[name] = count;
    return counts;
}

// Ctrl+C once the output shows `moment`: the run fails on its ordinary path, deletes
// its files and ends without waiting for a key.
void interrupt_at(const std::string& moment, int signal_number = SIGINT) {
    FileWatch watch(scene().image);
    RunOptions options = full_run(ORV_PATCHER);
    options.key_press = false;   // an interrupted run must not wait for one
    options.signal_when = moment;
    options.signal_number = signal_number;
    const ProgramRun run = run_program(options);
    ASSERT_TRUE(run.signal_sent) << run.output;
    EXPECT_FALSE(run.timed_out);
    // The run stops at its next file call; a generous bound only catches a hang.
    EXPECT_LT(run.seconds_after_signal, 60.0);
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.output.rfind(run_start(), 0), 0u);
    EXPECT_TRUE(run.output.size() >= patch_failed().size() &&
                run.output.compare(run.output.size() - patch_failed().size(), std::string::npos, patch_failed()) == 0)
        << "the run must end on the failure message, with no prompt: " << run.output.substr(run.output.size() - 80);
    expect_nothing_left_and_image_untouched(&watch);
}

}  // namespace

TEST(FullSizeInterruption, CtrlCDuringTheRebuild) { interrupt_at(progress(20)); }

TEST(FullSizeInterruption, CtrlCDuringThePatchApplication) { interrupt_at(progress(75)); }

// The terminal closed (SIGHUP) or the system asking the program to end (SIGTERM).
TEST(FullSizeInterruption, TerminalClosedOrTerminatedDuringTheRun) {
    interrupt_at(progress(35), SIGHUP);
    interrupt_at(progress(60), SIGTERM);
}

// A clean run counts the calls; a few failing ones are then placed in the rebuild, in
// the patch application and on the output's last close.
TEST(FullSizeFaults, FailingCallsOfAEuropeanRunLeaveNothingBehind) {
    TempFolder counts_folder;
    const fs::path counts_file = counts_folder.path / "counts";
    {
        FileWatch watch(scene().image);
        RunOptions options = full_run(ORV_PATCHER_FAULTS);
        options.environment.push_back({"ORV_FAULT_COUNTS", counts_file.string()});
        const ProgramRun run = run_program(options);
        const std::string success_end = patch_succeeded("Orvelia EU_patched.iso") + press_key();
        ASSERT_EQ(run.output.compare(run.output.size() - success_end.size(), std::string::npos, success_end), 0)
            << run.output.substr(run.output.size() - 200);
        EXPECT_EQ(fs::file_size(scene().output), INTERMEDIATE_SIZE);
        EXPECT_FALSE(fs::exists(scene().temp));
        EXPECT_EQ(watch.changes(), "");
        fs::remove(scene().output);
    }
    const auto counts = read_counts(counts_file);
    ASSERT_EQ(counts.size(), 5u);
    const std::vector<std::string> points = {
        "read:20:short",                                          // a rebuild read
        "write:" + std::to_string(counts.at("write") / 2) + ":fail",   // mid-run
        "write:" + std::to_string(counts.at("write") - 1) + ":short",  // the last windows
        "close:" + std::to_string(counts.at("close") - 2) + ":fail",   // the output's close
    };
    for (const std::string& point : points) {
        SCOPED_TRACE(point);
        FileWatch watch(scene().image);
        RunOptions options = full_run(ORV_PATCHER_FAULTS);
        options.environment.push_back({"ORV_FAULT", point});
        const ProgramRun run = run_program(options);
        EXPECT_EQ(run.exit_status, 0);
        const std::string failure_end = patch_failed() + press_key();
        EXPECT_EQ(run.output.compare(run.output.size() - failure_end.size(), std::string::npos, failure_end), 0)
            << run.output.substr(run.output.size() - 200);
        expect_nothing_left_and_image_untouched(&watch);
    }
    std::printf("full-size European fault points: %zu (clean run: open %llu, read %llu, write %llu, seek %llu, close %llu)\n",
                points.size(), static_cast<unsigned long long>(counts.at("open")),
                static_cast<unsigned long long>(counts.at("read")),
                static_cast<unsigned long long>(counts.at("write")),
                static_cast<unsigned long long>(counts.at("seek")),
                static_cast<unsigned long long>(counts.at("close")));
}
