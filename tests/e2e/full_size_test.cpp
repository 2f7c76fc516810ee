// Full-size runs: the built tools make 2.6 GB images and patches, the patcher runs on
// them, and outputs are named by their SHA-256. The European intermediate image is
// worked out from the layout alone, without the rebuild's code.
#include <gtest/gtest.h>
#include <zlib.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include "e2e_support.h"
#include "expected_texts.h"
#include "platform/write_out.h"
#include "sha256.h"
#include "synthetic_eu_image.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t FULL_TARGET_SIZE = 2620872704u;  // what the patches produce
constexpr std::uint64_t INTERMEDIATE_SIZE = 2599682048u;
constexpr std::uint64_t PATCH_WINDOW = 8u << 20;  // make-test-patch's default
constexpr std::size_t REBUILD_LINES = 7262;
constexpr int FULL_RUN_SECONDS = 1200;

std::string run_tool(const char* tool, std::vector<std::string> arguments) {
    TempFolder folder;
    RunOptions options;
    options.program = tool;
    options.arguments = std::move(arguments);
    options.folder = folder.path;
    options.timeout_seconds = FULL_RUN_SECONDS;
    const ProgramRun run = run_program(options);
    if (run.exit_status != 0) throw std::runtime_error(std::string(tool) + " failed");
    return run.output;
}

// make-test-patch ARGUMENTS [--sha256]: the SHA-256 of the target it encodes.
std::string make_test_patch(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "--sha256");
    return run_tool(ORV_MAKE_TEST_PATCH, arguments).substr(0, 64);
}
void make_identity_patch(const fs::path& patch) {
    run_tool(ORV_MAKE_TEST_PATCH,
             {"--identity", "--no-checksums", "--source-size", std::to_string(INTERMEDIATE_SIZE), patch.string()});
}

// The SHA-256 of the runs of `image` (zeros, or bytes from an offset), also written to
// `copy` when one is named.
std::string runs_sha256(const fs::path& image, const std::vector<ExpectedRun>& runs, const fs::path& copy = {}) {
    using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;
    File in(std::fopen(image.c_str(), "rb"), std::fclose);
    File out(copy.empty() ? nullptr : std::fopen(copy.c_str(), "wb"), std::fclose);
    std::vector<char> buffer(8u << 20);
    Sha256 hash;
    sha256_start(hash);
    for (const ExpectedRun& run : runs) {
        const bool placed = run.zeros || fseeko(in.get(), static_cast<off_t>(run.source_offset), SEEK_SET) == 0;
        if (!in || !placed) return "cannot seek in " + image.string();
        for (std::uint64_t done = 0; done < run.length;) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), run.length - done));
            if (run.zeros) std::fill_n(buffer.begin(), n, '\0');
            if (!run.zeros && std::fread(buffer.data(), 1, n, in.get()) != n) return "short read";
            if (out && std::fwrite(buffer.data(), 1, n, out.get()) != n) return "short write";
            sha256_add(hash, buffer.data(), n);
            done += n;
        }
    }
    return sha256_finish(hash);
}
std::string file_sha256(const fs::path& path) { return runs_sha256(path, {{fs::file_size(path), false, 0}}); }

// What a checksum failure on `image` shows: the CRC32 computed, the verdict on the dump, the figures.
std::string checksum_failure(const std::string& shown, const fs::path& image, std::uint32_t expected) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(image.c_str(), "rb"), std::fclose);
    std::vector<unsigned char> buffer(8u << 20);
    uLong crc = crc32(0, nullptr, 0);
    for (std::size_t got; in && (got = std::fread(buffer.data(), 1, buffer.size(), in.get())) > 0;) {
        crc = crc32(crc, buffer.data(), static_cast<uInt>(got));
    }
    return crc_lines() + crc_failed(shown) + crc_found(shown, static_cast<std::uint32_t>(crc), expected) + press_key();
}

std::string progress_lines(int first, int last) {
    std::string text;
    for (int percent = first; percent <= last; ++percent) text += progress(percent);
    return text;
}
int driver_percent(std::uint64_t written, int start) {
    return start + static_cast<int>(written * static_cast<std::uint64_t>(100 - start) / FULL_TARGET_SIZE);
}

RunOptions full_run(const fs::path& folder, bool with_faults = false) {
    RunOptions options = patcher_in(folder);
    if (with_faults) options.program = patcher_setup().patcher_faults;
    options.timeout_seconds = FULL_RUN_SECONDS;
    return options;
}

// A European run: the start, the rebuild's 7,262 lines (0 first, 50 last), the driver's
// exact lines from 50 to `driver_last`, then `end`.
void expect_eu_run(const fs::path& folder, const std::string& end, int driver_last) {
    const std::string start = banner() + eu_detected("Orvelia EU.iso") + patching();
    const ProgramRun run = run_program(full_run(folder));
    EXPECT_EQ(run.exit_status, 0);
    const std::string driver_end = progress_lines(50, driver_last) + end;
    ASSERT_TRUE(run.output.starts_with(start) && run.output.ends_with(driver_end))
        << run.output.substr(run.output.size() - 200);
    const std::string rebuild = run.output.substr(start.size(), run.output.size() - start.size() - driver_end.size());
    EXPECT_EQ(std::count(rebuild.begin(), rebuild.end(), '\r'), static_cast<std::ptrdiff_t>(REBUILD_LINES));
    EXPECT_TRUE(rebuild.starts_with(progress(0)) && rebuild.ends_with(progress(50)));
}

// (The quick interruption rows, of every signal and under Wine, are the scene table's.)
enum Row { US_REALISTIC, US_LATE_CHECKSUM, EU_IDENTITY, EU_REALISTIC, EU_LATE_CHECKSUM, CTRL_C_IN_PATCH,
           FAULT_POINTS, KILLED_IN_THE_PATCH };
const char* const ROW_NAMES[] = {"UsRealistic", "UsLateChecksumFailure", "EuIdentityAgainstTheIndependentLayout",
                                 "EuRealistic", "EuLateChecksumFailure", "CtrlCInThePatch", "FaultPoints",
                                 "KilledInThePatchThenRunAgain"};

class FullSize : public testing::TestWithParam<int> {};

TEST_P(FullSize, Run) {
    const auto row = static_cast<Row>(GetParam());
    TempFolder folder;
    const bool us = row <= US_LATE_CHECKSUM;
    const fs::path image = folder.path / (us ? "game.iso" : "Orvelia EU.iso");
    const std::string output_name = us ? "game_patched.iso" : "Orvelia EU_patched.iso";
    const fs::path output = folder.path / output_name, temp = folder.path / "Orvelia EU_temp.iso";
    const fs::path patch = folder.path / "patch" / (us ? "OV1_Patch_US-FR_test.xdelta" : "OV1_Patch_EU-FR_test.xdelta");
    const std::string succeeded = patch_succeeded(output_name) + press_key();
    constexpr std::uint64_t BAD_WINDOW = 250;  // of 313
    fs::create_directory(folder.path / "patch");

    if (row == US_REALISTIC || row == US_LATE_CHECKSUM) {
        run_tool(ORV_MAKE_TEST_IMAGE, {"us", "sparse", image.string()});
        const std::string image_before = file_sha256(image);
        std::vector<std::string> arguments = {image.string(), patch.string()};
        if (row == US_LATE_CHECKSUM)
            arguments.insert(arguments.begin(), {"--bad-checksum-window", std::to_string(BAD_WINDOW)});
        const std::string expected = make_test_patch(arguments);
        const ProgramRun run = run_program(full_run(folder.path));
        const std::string start = banner() + us_detected("game.iso") + patching();
        EXPECT_EQ(run.output, row == US_REALISTIC
                                  ? start + progress_lines(1, 100) + succeeded
                                  : start + progress_lines(1, driver_percent(BAD_WINDOW * PATCH_WINDOW, 0)) +
                                        checksum_failure("game.iso", image, US_DUMP_CRC));
        EXPECT_EQ(fs::exists(output) ? file_sha256(output) : "no output", row == US_REALISTIC ? expected : "no output");
        EXPECT_EQ(file_sha256(image), image_before);
    } else if (row <= EU_LATE_CHECKSUM) {
        const RebuildTableFiles tables = read_table_files(ORV_REBUILD_TABLE_DIR);
        ASSERT_EQ(tables.error, "");
        ASSERT_TRUE(write_synthetic_eu_image(image.string(), tables));
        FileGuard guard(image);
        if (row == EU_IDENTITY) {
            // A patch that copies its whole source gives the intermediate image. Its
            // 2,599,682,048 bytes of the 2,620,872,704 the progress counts on stop at 99.
            make_identity_patch(patch);
            expect_eu_run(folder.path, succeeded, 99);
            EXPECT_EQ(file_sha256(output), runs_sha256(image, expected_intermediate_layout(tables)));
        } else {
            const fs::path intermediate = folder.path / "intermediate.bin";  // not .iso: the search passes it over
            runs_sha256(image, expected_intermediate_layout(tables), intermediate);
            std::vector<std::string> arguments = {"--seed", "11", intermediate.string(), patch.string()};
            if (row == EU_LATE_CHECKSUM)
                arguments.insert(arguments.begin(), {"--bad-checksum-window", std::to_string(BAD_WINDOW)});
            const std::string expected = make_test_patch(arguments);
            fs::remove(intermediate);
            // The checksum failure names the European image, not the intermediate one.
            expect_eu_run(folder.path, row == EU_REALISTIC ? succeeded : checksum_failure("Orvelia EU.iso", image, EU_DUMP_CRC),
                          row == EU_REALISTIC ? 100 : driver_percent(BAD_WINDOW * PATCH_WINDOW, 50));
            EXPECT_EQ(fs::exists(output) ? file_sha256(output) : "no output",
                      row == EU_REALISTIC ? expected : "no output");
        }
        EXPECT_FALSE(fs::exists(temp));
        EXPECT_EQ(guard.changes(), "");
    } else if (row == KILLED_IN_THE_PATCH) {
        // A kill the program cannot notice leaves no output, and the next run replaces what it left.
        make_eu_image(image);
        make_identity_patch(patch);
        FileGuard guard(image);
        RunOptions options = full_run(folder.path);
        options.signal_when = progress(75);
        options.signal_number = SIGKILL;
        EXPECT_EQ(run_program(options).end_signal, SIGKILL);
        EXPECT_FALSE(fs::exists(fs::symlink_status(output))) << "a half-made output";
        expect_eu_run(folder.path, succeeded, 99);
        EXPECT_EQ(fs::file_size(output), INTERMEDIATE_SIZE);
        EXPECT_FALSE(fs::exists(fs::symlink_status(temp)));
        EXPECT_FALSE(fs::exists(fs::symlink_status(folder.path / (output_name + ".part"))));
        EXPECT_EQ(guard.changes(), "");
    } else {
        // Failing runs on a sparse image with an identity patch, cheap to read: the
        // failure last, no prompt after an interruption, nothing half-made.
        make_eu_image(image);
        make_identity_patch(patch);
        FileGuard guard(image);
        // Each fault with what the failure says after "Le patchage a échoué." (a failed read: nothing more).
        std::vector<std::pair<std::string, std::string>> faults = {{"", ""}};
        TempFolder counts_folder;
        const fs::path counts_file = counts_folder.path / "counts";
        if (row == FAULT_POINTS) {
            // A clean run counts the calls; faults go in a rebuild read, mid-rebuild, in the last
            // windows, in write-outs mid-run (the disk's error) and on the output's close.
            RunOptions options = full_run(folder.path, true);
            options.environment.push_back({"ORV_FAULT_COUNTS", counts_file.string()});
            write_file(temp, "left by a run that was killed");   // replaced, then deleted
            ASSERT_TRUE(run_program(options).output.ends_with(succeeded));
            EXPECT_FALSE(fs::exists(temp));
            EXPECT_EQ(fs::file_size(output), INTERMEDIATE_SIZE);
            fs::remove(output);
            const auto counts = read_counts(counts_file);
            for (const char* calls : {"write temp", "write part", "writeout temp", "writeout part"}) {
                ASSERT_TRUE(counts.contains(calls)) << calls;
            }
            // Both images went to the disk as they were written: the output in ranges, all but its
            // last two; the intermediate image after its pieces, at least one in two ranges.
            EXPECT_GE((counts.at("writeout part") + 2) * WRITE_OUT_RANGE, INTERMEDIATE_SIZE);
            EXPECT_GE((counts.at("writeout temp") + 2) * 2 * WRITE_OUT_RANGE, INTERMEDIATE_SIZE);
            const auto nth = [&](const char* calls, std::uint64_t part) { return std::to_string(counts.at(calls) / part); };
            const std::string temp_failed = write_failed("Orvelia EU_temp.iso"),
                              part_failed = write_failed(output_name + ".part");
            faults = {{"read:image:20:short", ""}, {"write:temp:" + nth("write temp", 2) + ":fail", temp_failed},
                      {"writeout:temp:" + nth("writeout temp", 2) + ":fail", temp_failed},
                      {"write:part:" + std::to_string(counts.at("write part") - 1) + ":short", part_failed},
                      {"writeout:part:" + nth("writeout part", 2) + ":fail", part_failed},
                      {"close:part:1:fail", part_failed}};
        }
        for (const auto& [fault, reason] : faults) {
            SCOPED_TRACE(fault);
            RunOptions options = full_run(folder.path, row == FAULT_POINTS);
            if (row == FAULT_POINTS) {
                options.environment.push_back({"ORV_FAULT", fault});
                options.environment.push_back({"ORV_FAULT_COUNTS", counts_file.string()});
            } else {
                options.key_press = false;  // an interrupted run must not wait for one
                options.signal_when = progress(75);
            }
            const ProgramRun run = run_program(options);
            EXPECT_TRUE(row != FAULT_POINTS || fault_fired(read_counts(counts_file), fault)) << "never fired";
            EXPECT_EQ(run.signal_sent, row != FAULT_POINTS) << run.output;
            EXPECT_FALSE(run.timed_out);
            EXPECT_EQ(run.exit_status, 0);
            EXPECT_TRUE(run.output.ends_with(patch_failed() + (row == FAULT_POINTS ? reason + press_key() : "")))
                << run.output.substr(run.output.size() - 200);
            EXPECT_FALSE(fs::exists(fs::symlink_status(temp))) << "the intermediate image was left behind";
            EXPECT_FALSE(fs::exists(fs::symlink_status(output))) << "a half-made output was left behind";
            EXPECT_FALSE(fs::exists(fs::symlink_status(folder.path / (output_name + ".part")))) << "the part file";
        }
        EXPECT_EQ(guard.changes(), "");
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, FullSize, testing::Range(0, static_cast<int>(std::size(ROW_NAMES))),
                         [](const testing::TestParamInfo<int>& row) { return std::string(ROW_NAMES[row.param]); });

}  // namespace
