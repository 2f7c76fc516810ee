#include "app/find_and_patch.h"

#include <cstring>

#include "app/identification.h"
#include "app/messages.h"
#include "app/patch_job.h"
#include "app/run_patching.h"
#include "fs/file_search.h"
#include "fs/path_helpers.h"
#include "platform/platform.h"

namespace {

constexpr char IMAGE_EXTENSION[] = "iso";
constexpr char PATCH_EXTENSION[] = "xdelta";

static_assert(SEARCH_DIRECTORY_BUFFER >= PATH_BUFFER_SIZE, "the walk must reach the folder of any path the run keeps");

// The next file with `extension` whose path is within the limit. A longer one is passed
// over, as a file of that name could not be patched; the first that `worth_naming` accepts
// is kept in `passed_over`, as messages show it, to be named if nothing is found.
bool next_file_within_limit(PatchJob& job, char (&path)[PATH_BUFFER_SIZE], const char* extension,
                            char (&passed_over)[PASSED_OVER_CAPACITY], bool (*worth_naming)(const PatchJob&, const char*)) {
    char found[PASSED_OVER_CAPACITY];
    while (find_next_file(found, sizeof found, extension) == 1) {
        // Within the limit, a path takes at most 3 bytes a UTF-16 unit: it fits `path`.
        if (path_within_limit(found)) {
            std::memcpy(path, found, std::strlen(found) + 1);
            return true;
        }
        if (passed_over[0] == '\0' && worth_naming(job, found)) {
            std::memcpy(passed_over, found, std::strlen(found) + 1);
            drop_path_prefix(passed_over, std::strlen(job.start_folder));
        }
    }
    return false;
}

bool any_image(const PatchJob&, const char*) { return true; }

bool patch_of_the_release(const PatchJob& job, const char* path) {
    char name[PASSED_OVER_CAPACITY];
    std::memcpy(name, path, std::strlen(path) + 1);
    strip_directories(name);
    return std::strncmp(name, job.region == US ? US_PATCH_PREFIX : EU_PATCH_PREFIX, PATCH_PREFIX_LENGTH) == 0;
}

// Nothing was found: say why where the program can tell.
void explain_image_not_found(const PatchJob& job) {
    char temporary[PATH_BUFFER_SIZE];
    if (job.passed_over_image[0] != '\0') {
        print_path_too_long(job.passed_over_image);
    } else if (platform_temporary_folder(temporary, sizeof temporary) &&
               path_is_within(job.start_folder, temporary)) {
        // Explorer runs a program opened inside a zip from a copy in the temporary folder.
        print_in_temporary_folder(job.start_folder);
    }
}

// Finds the first image below the start folder that is a known release. Prints the
// detection message, or the failure message, and says whether the run goes on.
bool find_and_identify_image(PatchJob& job) {
    while (next_file_within_limit(job, job.image_path, IMAGE_EXTENSION, job.passed_over_image, any_image)) {
        display_of(job.display_path, job, job.image_path);

        switch (identify_image(job)) {
            case IMAGE_OPEN_FAILED:
                print_image_open_failed(job.display_path);
                return false;
            case IMAGE_US:
                job.region = US;
                print_us_detected(job.display_path);
                return true;
            case IMAGE_EU:
                job.region = EU;
                print_eu_detected(job.display_path);
                return true;
            case IMAGE_UNKNOWN:
                break;
        }
    }
    print_image_not_found();
    explain_image_not_found(job);
    return false;
}

// The search state is shared by every search: running the image search to its end
// brings the walk, and the current directory, back to the start folder.
void finish_image_search(PatchJob& job) {
    while (find_next_file(job.patch_path, sizeof job.patch_path, IMAGE_EXTENSION) == 1) {
    }
}

// Leaves the current directory in the chosen patch's folder and its base name in
// patch_path.
bool choose_patch(PatchJob& job) {
    while (next_file_within_limit(job, job.patch_path, PATCH_EXTENSION, job.passed_over_patch, patch_of_the_release)) {
        display_of(job.patch_display_path, job, job.patch_path);
        strip_directories(job.patch_path);
        if (std::strncmp(job.patch_path, job.region == US ? US_PATCH_PREFIX : EU_PATCH_PREFIX, PATCH_PREFIX_LENGTH) ==
            0) {
            return true;
        }
    }
    if (job.region == US) {
        print_us_patch_missing();
    } else {
        print_eu_patch_missing();
    }
    if (job.passed_over_patch[0] != '\0') print_path_too_long(job.passed_over_patch);
    return false;
}

void wait_for_key() {
    platform_end_work();
    platform_prepare_for_key();
    print_press_key();
    platform_wait_for_key();
}

}  // namespace

void find_and_patch_image() {
    // The job is large (six path buffers) and lives for the whole run.
    static PatchJob job;
    std::memset(&job, 0, sizeof job);
    job.image_fd = -1;
    job.temp_fd = -1;

    platform_install_interrupt_handler();
    platform_begin_work();
    print_banner();
    // A start folder that cannot be read, or is longer than the limit, holds no image
    // whose path the run could keep.
    if (platform_get_current_directory(job.start_folder, sizeof job.start_folder) == 0 ||
        !path_within_limit(job.start_folder)) {
        print_image_not_found();
        platform_end_work();
        wait_for_key();
        return;
    }
    if (find_and_identify_image(job)) {
        finish_image_search(job);
        if (choose_patch(job)) {
            run_patching(job);
            if (platform_interrupted()) {
                platform_end_work();
                return;  // the player asked to stop: no prompt to answer
            }
        }
    }
    platform_end_work();
    wait_for_key();
}
