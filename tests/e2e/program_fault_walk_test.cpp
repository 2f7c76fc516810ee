// The whole program with each of its file calls failing or falling short in turn, walked
// per operation and role of file: it ends in the exact success or in a clean failure,
// never opens the image for writing, and leaves nothing half-made.
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
    // Failing identification reads or opens end the run earlier, with their own messages; a failure
    // while patching may say why. A finished image that cannot be renamed stays as the part file.
    const std::string part = "game_patched.iso.part", kept = start + output_kept("game_patched.iso", part) + press_key();
    const std::vector<std::string> failures = {start + patch_failed() + press_key(),
                                               start + patch_failed() + write_failed(part) + press_key(),
                                               start + patch_failed() + patch_damaged("OV1_Patch_US-FR_v1.xdelta") +
                                                   press_key(),
                                               kept,
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
    const fs::path counts_file = counts_folder.path / "counts";
    options.environment.push_back({"ORV_FAULT_COUNTS", counts_file.string()});
    ASSERT_EQ(run_program(options).output, succeeded);
    ASSERT_EQ(read_file(output), expected);
    const auto counts = read_counts(counts_file);
    // The output reached the disk: the part file was flushed, and its folder after the rename.
    EXPECT_TRUE(counts.contains("synced part") && counts.contains("synced folder"));

    for (const auto& [calls, count] : counts) {
        if (calls.starts_with("synced")) continue;
        const std::string operation = calls.substr(0, calls.find(' ')), role = calls.substr(operation.size() + 1);
        for (const char* kind : {"fail", "short"}) {
            for (std::uint64_t k = 1; k <= count + 1; ++k) {
                const std::string fault = operation + ":" + role + ":" + std::to_string(k) + ":" + kind;
                SCOPED_TRACE(fault);
                fs::remove(output);
                fs::remove(counts_file);
                options.environment.push_back({"ORV_FAULT", fault});
                const ProgramRun run = run_program(options);
                options.environment.pop_back();
                EXPECT_EQ(run.exit_status, 0);
                // Fired exactly when the clean run made that call: no fault walked past by a change of order.
                EXPECT_EQ(fault_fired(read_counts(counts_file), fault), k <= count);
                if (run.output == succeeded) {
                    EXPECT_EQ(read_file(output), expected) << "success with a wrong output";
                    // Only a file the run only reads may fail to close unseen: nothing of it is lost.
                    if (k <= count) {
                        EXPECT_TRUE(operation == "close" && (role == "image" || role == "patch"))
                            << "a failing call went unnoticed";
                    }
                    continue;
                }
                EXPECT_NE(std::find(failures.begin(), failures.end(), run.output), failures.end()) << run.output;
                EXPECT_LE(k, count) << "a run without a fault failed";
                if (run.output == kept) {
                    EXPECT_EQ(read_file(folder.path / part), expected) << "a kept image that is not whole";
                    fs::remove(folder.path / part);
                }
                EXPECT_EQ(entries(), entries_before) << "something was left behind";
            }
        }
    }
    EXPECT_EQ(guard.changes(), "");
}
