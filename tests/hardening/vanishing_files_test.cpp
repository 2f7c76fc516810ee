// Files that vanish or shrink between the search that found them and their use: the
// run ends with the generic failure, reads nothing past the end, and leaves nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "app/identification.h"
#include "app/patch_job.h"
#include "app/run_patching.h"
#include "e2e_support.h"
#include "expected_texts.h"

namespace fs = std::filesystem;

namespace {

const char* const PATCH_NAME = "OV1_Patch_XX-FR_v1.xdelta";

void copy_text(char (&out)[PATH_BUFFER_SIZE], const std::string& text) {
    ASSERT_LT(text.size(), sizeof out);
    std::memcpy(out, text.c_str(), text.size() + 1);
}

// The run up to the choice of the patch, done by hand: the image identified, the
// current directory in the patch's folder. `change` then acts on the folder, and the
// patching must fail cleanly.
void expect_clean_failure(bool european, const std::function<void(const fs::path& folder)>& change) {
    TempFolder folder;
    const fs::path image = folder.path / "game.iso";
    std::string expected;
    european ? make_eu_image(image) : make_us_image(image);
    write_file(folder.path / PATCH_NAME, european ? Bytes{'x'} : small_us_patch(&expected));
    PatchJob job{};
    job.image_fd = -1;
    job.temp_fd = -1;
    copy_text(job.start_folder, folder.path.string());
    copy_text(job.image_path, image.string());
    copy_text(job.display_path, "game.iso");
    copy_text(job.patch_path, PATCH_NAME);
    const fs::path previous_directory = fs::current_path();
    fs::current_path(folder.path);
    EXPECT_EQ(identify_image(job), european ? IMAGE_EU : IMAGE_US);
    job.region = european ? EU : US;
    change(folder.path);
    testing::internal::CaptureStdout();
    run_patching(job);
    const std::string output = testing::internal::GetCapturedStdout();
    fs::current_path(previous_directory);
    EXPECT_EQ(output.rfind(patching(), 0), 0u);
    EXPECT_TRUE(ends_with(output, patch_failed())) << output.substr(output.size() > 200 ? output.size() - 200 : 0);
    EXPECT_FALSE(fs::exists(folder.path / "game_patched.iso"));
    EXPECT_FALSE(fs::exists(folder.path / "game_temp.iso"));
}

}  // namespace

TEST(VanishingFiles, AUsImageThatShrinksOrAPatchThatVanishesAfterIdentification) {
    // The patch copies from 2.5 GB on; the image now ends at 16 MiB.
    expect_clean_failure(false, [](const fs::path& folder) { fs::resize_file(folder / "game.iso", 16u << 20); });
    expect_clean_failure(false, [](const fs::path& folder) { fs::remove(folder / PATCH_NAME); });
}

TEST(VanishingFiles, AEuropeanImageThatVanishesOrShrinksBeforeTheRebuild) {
    expect_clean_failure(true, [](const fs::path& folder) { fs::remove(folder / "game.iso"); });
    // The rebuild copies ranges up to 2.6 GB: it fails at the first range past the new end.
    expect_clean_failure(true, [](const fs::path& folder) { fs::resize_file(folder / "game.iso", 100u << 20); });
}
