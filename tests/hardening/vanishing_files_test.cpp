// Files that vanish or shrink between the search that found them and their use: the
// run ends with the generic failure, reads nothing past the end, and leaves nothing.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "app/identification.h"
#include "app/patch_job.h"
#include "app/run_patching.h"
#include "e2e_support.h"
#include "expected_texts.h"
#include "test_patches.h"

namespace fs = std::filesystem;

namespace {

const char* const PATCH_NAME = "OV1_Patch_XX-FR_v1.xdelta";

void copy_text(char (&out)[PATH_BUFFER_SIZE], const std::string& text) {
    ASSERT_LT(text.size(), sizeof out);
    std::memcpy(out, text.c_str(), text.size() + 1);
}

// The run up to the choice of the patch, done by hand: the image identified, the
// current directory in the patch's folder.
struct IdentifiedRun {
    TempFolder folder;
    fs::path image;
    fs::path previous_directory = fs::current_path();
    PatchJob job{};

    IdentifiedRun(bool european, const Bytes& patch) {
        image = folder.path / "game.iso";
        if (european) {
            make_eu_image(image);
        } else {
            make_us_image_with_regions(image);
        }
        put_bytes(folder.path / PATCH_NAME, patch);
        job.image_fd = -1;
        job.temp_fd = -1;
        copy_text(job.start_folder, folder.path.string());
        copy_text(job.image_path, image.string());
        copy_text(job.display_path, "game.iso");
        copy_text(job.patch_path, PATCH_NAME);
        fs::current_path(folder.path);
        EXPECT_EQ(identify_image(job), european ? IMAGE_EU : IMAGE_US);
        job.region = european ? EU : US;
    }
    ~IdentifiedRun() { fs::current_path(previous_directory); }

    std::string patch_and_capture() {
        testing::internal::CaptureStdout();
        run_patching(job);
        return testing::internal::GetCapturedStdout();
    }

    void expect_clean_failure(const std::string& output) {
        const std::string failed = patch_failed();
        EXPECT_EQ(output.rfind(patching(), 0), 0u);
        EXPECT_TRUE(output.size() >= failed.size() &&
                    output.compare(output.size() - failed.size(), std::string::npos, failed) == 0)
            << output.substr(output.size() > 200 ? output.size() - 200 : 0);
        EXPECT_FALSE(fs::exists(folder.path / "game_patched.iso"));
        EXPECT_FALSE(fs::exists(folder.path / "game_temp.iso"));
    }
};

Bytes us_patch() {
    Bytes expected;
    return small_us_patch(&expected);
}

}  // namespace

TEST(VanishingFiles, AUsImageThatShrinksAfterIdentification) {
    IdentifiedRun run(false, us_patch());
    // The patch copies from 2.5 GB on; the image now ends at 16 MiB.
    fs::resize_file(run.image, 16u << 20);
    run.expect_clean_failure(run.patch_and_capture());
}

TEST(VanishingFiles, APatchThatVanishesAfterItWasChosen) {
    IdentifiedRun run(false, us_patch());
    fs::remove(run.folder.path / PATCH_NAME);
    run.expect_clean_failure(run.patch_and_capture());
}

TEST(VanishingFiles, AEuropeanImageThatVanishesOrShrinksBeforeTheRebuild) {
    for (const bool vanishes : {true, false}) {
        SCOPED_TRACE(vanishes ? "vanishes" : "shrinks");
        IdentifiedRun run(true, Bytes{'x'});
        if (vanishes) {
            fs::remove(run.image);
        } else {
            // The rebuild copies ranges up to 2.6 GB: it fails part way, at the first
            // range past the new end.
            fs::resize_file(run.image, 100u << 20);
        }
        run.expect_clean_failure(run.patch_and_capture());
    }
}
