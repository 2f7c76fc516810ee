// The whole program with each of its file calls failing or falling short in turn: it
// ends in the exact success or in a clean failure, never opens the image for writing,
// and leaves nothing half-made.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "e2e_support.h"
#include "expected_texts.h"

namespace fs = std::filesystem;

TEST(NativeOnly, EveryFailingCallOfAUsRunEndsInSuccessOrACleanFailure) {
    TempFolder folder, counts_folder;
    const fs::path output = folder.path / "game_patched.iso";
    make_us_image(folder.path / "game.iso");
    std::string expected;
    write_file(folder.path / "OV1_Patch_US-FR_v1.xdelta", small_us_patch(&expected));
    FileGuard guard(folder.path / "game.iso");
    const std::string start = banner() + us_detected("game.iso") + patching();
    const std::string succeeded = start + patch_succeeded("game_patched.iso") + press_key();
    // Failing identification reads or opens end the run earlier, with their own messages.
    const std::vector<std::string> failures = {start + patch_failed() + press_key(),
                                               banner() + image_not_found() + press_key(),
                                               banner() + image_open_failed("game.iso") + press_key()};
    const auto entries = [&] {
        std::set<fs::path> names;
        for (const auto& entry : fs::directory_iterator(folder.path)) names.insert(entry.path());
        return names;
    };
    const auto entries_before = entries();
    RunOptions options = patcher_in(folder.path);
    options.program = patcher_setup().patcher_faults;
    options.environment.push_back({"ORV_FAULT_COUNTS", (counts_folder.path / "counts").string()});
    ASSERT_EQ(run_program(options).output, succeeded);
    ASSERT_EQ(read_file(output), expected);
    const auto counts = read_counts(counts_folder.path / "counts");
    ASSERT_EQ(counts.size(), 8u);
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
                if (run.output == succeeded) {
                    EXPECT_EQ(read_file(output), expected) << "success with a wrong output";
                    // Files read whole may fail to close unseen; no other failing call may. The
                    // output is closed last.
                    if (k <= count) {
                        EXPECT_TRUE(operation == "close" && k != count) << "a failing call went unnoticed";
                    }
                    continue;
                }
                EXPECT_NE(std::find(failures.begin(), failures.end(), run.output), failures.end()) << run.output;
                EXPECT_LE(k, count) << "a run without a fault failed";
                EXPECT_EQ(entries(), entries_before) << "something was left behind";
            }
        }
    }
    EXPECT_EQ(guard.changes(), "");
}
