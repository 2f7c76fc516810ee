// The European path on a full-size synthetic image: the rebuild and the patch in one
// run, three times over the same image: with a patch that leaves the intermediate
// image as it is, with a real patch made against that intermediate image, and with a
// patch whose checksum fails late.
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

constexpr std::uint64_t INTERMEDIATE_SIZE = 2599682048u;
constexpr std::size_t REBUILD_LINES = 7262;

// The SHA-256 of the intermediate image as the layout alone says it must be: its
// runs of zeros and of bytes copied from the European image.
std::string expected_intermediate_sha256(const fs::path& image, const RebuildTableFiles& tables) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(image.c_str(), "rb"), std::fclose);
    if (!file) return "cannot open the image";
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
    if (total != INTERMEDIATE_SIZE) return "layout of the wrong size";
    return sha256_finish(hash);
}

// The rebuild's 7,262 lines ("%0.f": whole numbers, never going back, 0 first and 50
// last), then the driver's exact lines from 50 to `driver_last`.
void expect_progress(const std::string& progress_text, int driver_last) {
    const std::vector<std::string> lines = split_progress(progress_text);
    ASSERT_EQ(lines.size(), REBUILD_LINES + static_cast<std::size_t>(driver_last - 50 + 1));
    const std::regex line_format("Progression: (0|[1-9][0-9]?) %");
    int previous = 0;
    std::size_t bad = 0;
    for (std::size_t i = 0; i < REBUILD_LINES; ++i) {
        std::smatch match;
        const bool well_formed = std::regex_match(lines[i], match, line_format);
        const int value = well_formed ? std::stoi(match[1].str()) : -1;
        if (!well_formed || value < previous || value > 50) {
            if (++bad <= 3) ADD_FAILURE() << "rebuild line " << i << ": " << lines[i];
        }
        previous = value;
    }
    EXPECT_EQ(lines.front(), "Progression: 0 %");
    EXPECT_EQ(lines[REBUILD_LINES - 1], "Progression: 50 %");
    std::string driver_part;
    for (std::size_t i = REBUILD_LINES; i < lines.size(); ++i) driver_part += lines[i] + "\r";
    EXPECT_EQ(driver_part, progress_lines(50, driver_last));
}

struct EuRun {
    PatcherRun run;
    std::string progress;   // the output between the patching message and the outcome
};

EuRun run_and_split(const fs::path& folder, const std::string& start, const std::string& end) {
    EuRun result{run_patcher(folder, FULL_RUN_TIMEOUT_SECONDS), ""};
    const std::string& out = result.run.output;
    EXPECT_EQ(out.substr(0, start.size()), start);
    EXPECT_GE(out.size(), start.size() + end.size());
    if (out.size() >= start.size() + end.size()) {
        EXPECT_EQ(out.substr(out.size() - end.size()), end);
        result.progress = out.substr(start.size(), out.size() - start.size() - end.size());
    }
    EXPECT_EQ(result.run.exit_status, 0);
    return result;
}

}  // namespace

TEST(FullSizeEu, RebuildAndPatchGiveTheIntermediateImageThenThePatchedOneAndAChecksumFailureNamesTheImage) {
    StepTimer timer;
    TempFolder folder;
    const fs::path image = folder.path / "Orvelia EU.iso";
    const fs::path patch = folder.path / "OV1_Patch_EU-FR_test.xdelta";
    const fs::path output = folder.path / "Orvelia EU_patched.iso";
    const fs::path temp = folder.path / "Orvelia EU_temp.iso";
    // Not .iso, so the image search passes it over.
    const fs::path intermediate = folder.path / "intermediate.bin";
    const fs::path bad_patch = folder.path / "bad-patch.bin";
    const std::string start = banner() + eu_detected("Orvelia EU.iso") + patching();

    const RebuildTableFiles tables = read_rebuild_table_files();
    ASSERT_EQ(tables.error, "");
    ASSERT_TRUE(write_synthetic_eu_image(image.string(), tables));
    const std::string expected_intermediate = expected_intermediate_sha256(image, tables);
    timer.lap("synthetic image and its intermediate digest");

    // 1. A patch that copies its whole source: the output is the intermediate image.
    const ToolResult identity = run_tool(ORV_MAKE_TEST_PATCH, {"--identity", "--no-checksums", "--source-size",
                                                                std::to_string(INTERMEDIATE_SIZE), patch.string()});
    ASSERT_EQ(identity.status, 0) << identity.err;
    {
        const EuRun eu = run_and_split(folder.path, start, patch_succeeded("Orvelia EU_patched.iso") + press_key());
        timer.lap("run with the identity patch");
        // 2,599,682,048 of the 2,620,872,704 bytes the progress counts on: the line stops at 99.
        EXPECT_EQ(driver_percent(INTERMEDIATE_SIZE, 50, 100), 99);
        expect_progress(eu.progress, 99);
        EXPECT_FALSE(fs::exists(temp));
        ASSERT_TRUE(fs::exists(output));
        EXPECT_EQ(fs::file_size(output), INTERMEDIATE_SIZE);
        EXPECT_EQ(file_sha256(output), expected_intermediate);
        fs::rename(output, intermediate);
        timer.lap("intermediate digest");
    }

    // 2. A real patch, and one failing late, made against that intermediate image.
    const std::string expected = make_test_patch({"--seed", "11", intermediate.string(), patch.string()});
    constexpr std::uint64_t BAD_WINDOW = 250;
    make_test_patch({"--seed", "11", "--bad-checksum-window", std::to_string(BAD_WINDOW), intermediate.string(),
                     bad_patch.string()});
    fs::remove(intermediate);
    timer.lap("two patches");
    {
        const EuRun eu = run_and_split(folder.path, start, patch_succeeded("Orvelia EU_patched.iso") + press_key());
        timer.lap("run with the real patch");
        expect_progress(eu.progress, 100);
        EXPECT_FALSE(fs::exists(temp));
        ASSERT_TRUE(fs::exists(output));
        EXPECT_EQ(fs::file_size(output), FULL_TARGET_SIZE);
        EXPECT_EQ(file_sha256(output), expected);
        fs::remove(output);
        timer.lap("output digest");
    }

    // 3. The checksum failure names the European image, not the intermediate one.
    fs::rename(bad_patch, patch);
    {
        const EuRun eu = run_and_split(folder.path, start, crc_failed("Orvelia EU.iso") + press_key());
        timer.lap("run with the failing patch");
        const int last = driver_percent(BAD_WINDOW * PATCH_WINDOW, 50, 100);
        EXPECT_EQ(last, 90);
        expect_progress(eu.progress, last);
        EXPECT_FALSE(fs::exists(temp));
        EXPECT_FALSE(fs::exists(output));
    }
}
