// The European path on full-size images: the rebuild and the patch in one run, three
// times over one synthetic image (a patch that leaves the intermediate image as it is,
// a real patch made against that image, and one whose checksum fails late); then the
// promises of a failing run, on a sparse image: Ctrl+C and failing calls leave nothing.
#include <signal.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <regex>

#include "e2e_support.h"
#include "expected_texts.h"
#include "full_size_support.h"
#include "sha256.h"
#include "synthetic_eu_image.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t REBUILD_LINES = 7262;

// The SHA-256 of the intermediate image as the layout alone says it must be: its runs
// of zeros and of bytes copied from the European image.
std::string expected_intermediate_sha256(const fs::path& image, const RebuildTableFiles& tables) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(image.c_str(), "rb"), std::fclose);
    std::vector<char> buffer(8u << 20);
    Sha256 hash;
    sha256_start(hash);
    std::uint64_t total = 0;
    for (const ExpectedRun& run : expected_intermediate_layout(tables)) {
        if (!run.zeros && fseeko(file.get(), static_cast<off_t>(run.source_offset), SEEK_SET) != 0) return "seek";
        for (std::uint64_t done = 0; done < run.length;) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), run.length - done));
            if (run.zeros) {
                std::fill_n(buffer.begin(), n, '\0');
            } else if (std::fread(buffer.data(), 1, n, file.get()) != n) {
                return "short read";
            }
            sha256_add(hash, buffer.data(), n);
            done += n;
        }
        total += run.length;
    }
    return total == INTERMEDIATE_SIZE ? sha256_finish(hash) : "layout of the wrong size";
}

// Runs the patcher on `image_name` in `folder` and checks the output: the start, the
// rebuild's 7,262 lines ("%0.f": whole numbers, never going back, 0 first and 50 last),
// the driver's exact lines from 50 to `driver_last`, then `end`.
void expect_eu_run(const fs::path& folder, const std::string& end, int driver_last) {
    const std::string start = banner() + eu_detected("Orvelia EU.iso") + patching();
    const ProgramRun run = run_program(full_run(folder));
    EXPECT_EQ(run.exit_status, 0);
    ASSERT_EQ(run.output.rfind(start, 0), 0u);
    ASSERT_TRUE(ends_with(run.output, end)) << run.output.substr(run.output.size() - 200);
    std::vector<std::string> lines;
    std::size_t from = start.size();
    for (std::size_t cr; (cr = run.output.find('\r', from)) != std::string::npos && cr < run.output.size() - end.size();
         from = cr + 1) {
        lines.push_back(run.output.substr(from, cr - from));
    }
    ASSERT_EQ(lines.size(), REBUILD_LINES + static_cast<std::size_t>(driver_last - 50 + 1));
    const std::regex line_format("Progression: (0|[1-9][0-9]?) %");
    int previous = 0;
    for (std::size_t i = 0; i < REBUILD_LINES; ++i) {
        std::smatch match;
        const int value = std::regex_match(lines[i], match, line_format) ? std::stoi(match[1].str()) : -1;
        ASSERT_TRUE(value >= previous && value <= 50) << "rebuild line " << i << ": " << lines[i];
        previous = value;
    }
    EXPECT_EQ(lines.front(), "Progression: 0 %");
    EXPECT_EQ(lines[REBUILD_LINES - 1], "Progression: 50 %");
    std::string driver_part;
    for (std::size_t i = REBUILD_LINES; i < lines.size(); ++i) driver_part += lines[i] + "\r";
    EXPECT_EQ(driver_part, progress_lines(50, driver_last));
}

}  // namespace

TEST(FullSizeEu, IdentityPatchGivesTheIntermediateImageThenARealPatchThenAChecksumFailure) {
    TempFolder folder;
    const fs::path image = folder.path / "Orvelia EU.iso";
    const fs::path patch = folder.path / "OV1_Patch_EU-FR_test.xdelta";
    const fs::path output = folder.path / "Orvelia EU_patched.iso";
    const fs::path temp = folder.path / "Orvelia EU_temp.iso";
    const fs::path intermediate = folder.path / "intermediate.bin";   // not .iso: the search passes it over
    const fs::path bad_patch = folder.path / "bad-patch.bin";
    const std::string succeeded = patch_succeeded("Orvelia EU_patched.iso") + press_key();

    const RebuildTableFiles tables = read_rebuild_table_files();
    ASSERT_EQ(tables.error, "");
    ASSERT_TRUE(write_synthetic_eu_image(image.string(), tables));
    const std::string expected_intermediate = expected_intermediate_sha256(image, tables);

    // 1. A patch that copies its whole source: the output is the intermediate image. Its
    // 2,599,682,048 bytes of the 2,620,872,704 the progress counts on stop the line at 99.
    make_test_patch({"--identity", "--no-checksums", "--source-size", std::to_string(INTERMEDIATE_SIZE),
                     patch.string()}, false);
    expect_eu_run(folder.path, succeeded, 99);
    EXPECT_FALSE(fs::exists(temp));
    ASSERT_TRUE(fs::exists(output));
    EXPECT_EQ(file_sha256(output), expected_intermediate);
    fs::rename(output, intermediate);

    // 2. A real patch, and one failing late, made against that intermediate image.
    const std::string expected = make_test_patch({"--seed", "11", intermediate.string(), patch.string()});
    constexpr std::uint64_t BAD_WINDOW = 250;
    make_test_patch({"--seed", "11", "--bad-checksum-window", std::to_string(BAD_WINDOW), intermediate.string(),
                     bad_patch.string()});
    fs::remove(intermediate);
    expect_eu_run(folder.path, succeeded, 100);
    EXPECT_FALSE(fs::exists(temp));
    ASSERT_TRUE(fs::exists(output));
    EXPECT_EQ(file_sha256(output), expected);
    fs::remove(output);

    // 3. The checksum failure names the European image, not the intermediate one.
    fs::rename(bad_patch, patch);
    expect_eu_run(folder.path, crc_failed("Orvelia EU.iso") + press_key(), driver_percent(BAD_WINDOW * PATCH_WINDOW, 50, 100));
    EXPECT_FALSE(fs::exists(temp));
    EXPECT_FALSE(fs::exists(output));
}

// ---- Failing runs on a sparse image with an identity patch: cheap to read ------------

namespace {

struct SparseEuropeanScene {
    TempFolder folder;
    fs::path image = folder.path / "Orvelia EU.iso";
    fs::path temp = folder.path / "Orvelia EU_temp.iso";
    fs::path output = folder.path / "Orvelia EU_patched.iso";
    SparseEuropeanScene() {
        make_eu_image(image);
        make_test_patch({"--identity", "--no-checksums", "--source-size", std::to_string(INTERMEDIATE_SIZE),
                         (folder.path / "OV1_Patch_EU-FR_identity.xdelta").string()}, false);
    }
};

SparseEuropeanScene& scene() {
    static SparseEuropeanScene shared;
    return shared;
}

// After a run that did not succeed: the failure message last, nothing half-made, the image untouched.
void expect_clean_failure(const ProgramRun& run, const std::string& end, FileGuard& guard) {
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_TRUE(ends_with(run.output, end)) << run.output.substr(run.output.size() - 200);
    EXPECT_FALSE(fs::exists(fs::symlink_status(scene().temp))) << "the intermediate image was left behind";
    EXPECT_FALSE(fs::exists(fs::symlink_status(scene().output))) << "a half-made output was left behind";
    EXPECT_EQ(guard.changes(), "");
}

}  // namespace

TEST(FullSizePromises, CtrlCDuringTheRebuildOrThePatchEndsTheRunWithoutAPrompt) {
    for (const int percent : {20, 75}) {
        SCOPED_TRACE(percent);
        FileGuard guard(scene().image);
        RunOptions options = full_run(scene().folder.path);
        options.key_press = false;   // an interrupted run must not wait for one
        options.signal_when = progress(percent);
        options.timeout_seconds = 300;   // the run stops at its next file call: only a hang takes long
        const ProgramRun run = run_program(options);
        ASSERT_TRUE(run.signal_sent) << run.output;
        EXPECT_FALSE(run.timed_out);
        expect_clean_failure(run, patch_failed(), guard);
    }
}

// A clean run counts the calls; failing ones are then placed in the rebuild, in the
// patch application and on the output's last close.
TEST(FullSizePromises, FailingCallsOfAEuropeanRunLeaveNothingBehind) {
    TempFolder counts_folder;
    const fs::path counts_file = counts_folder.path / "counts";
    {
        FileGuard guard(scene().image);
        write_file(scene().temp, "left by a run that was killed");   // replaced, then deleted
        RunOptions options = full_run(scene().folder.path, ORV_PATCHER_FAULTS);
        options.environment.push_back({"ORV_FAULT_COUNTS", counts_file.string()});
        const ProgramRun run = run_program(options);
        ASSERT_TRUE(ends_with(run.output, patch_succeeded("Orvelia EU_patched.iso") + press_key()));
        EXPECT_FALSE(fs::exists(scene().temp));
        EXPECT_EQ(fs::file_size(scene().output), INTERMEDIATE_SIZE);
        EXPECT_EQ(guard.changes(), "");
        fs::remove(scene().output);
    }
    const auto counts = read_counts(counts_file);
    ASSERT_EQ(counts.size(), 5u);
    const std::vector<std::string> points = {
        "read:20:short",                                               // a rebuild read
        "write:" + std::to_string(counts.at("write") / 2) + ":fail",   // mid-run
        "write:" + std::to_string(counts.at("write") - 1) + ":short",  // the last windows
        "close:" + std::to_string(counts.at("close") - 2) + ":fail",   // the output's close
    };
    for (const std::string& point : points) {
        SCOPED_TRACE(point);
        FileGuard guard(scene().image);
        RunOptions options = full_run(scene().folder.path, ORV_PATCHER_FAULTS);
        options.environment.push_back({"ORV_FAULT", point});
        expect_clean_failure(run_program(options), patch_failed() + press_key(), guard);
    }
}
