#include "app/run_patching.h"

#include <cstring>

#include "app/messages.h"
#include "fs/path_helpers.h"
#include "platform/platform.h"
#include "rebuild/rebuild_script.h"
#include "vcdiff/apply_patch.h"
#include "vcdiff/decode_types.h"

namespace {

// The front end's own result for a rebuild that could not write the whole
// intermediate image (distinct from 0 and from every patch result it reports apart).
constexpr int REBUILD_FAILED = -1;

// The names of the files written beside the image replace its last four characters
// (".iso", whatever their case).
constexpr std::size_t IMAGE_EXTENSION_LENGTH = 4;

// The intermediate image's name is the program's own: whatever non-folder entry has it
// is a leftover of a run that was killed (a power loss, the process ended by force) and
// goes. Removing a link never follows it, so neither its target nor the image behind a
// second hard link is touched. The file is then created exclusively, so that nothing
// put in its place meanwhile is followed or truncated. -1 when a folder has the name,
// or the removal or the creation fails.
int create_intermediate_image(const char* temp_path) {
    platform_remove(temp_path);
    return platform_open(temp_path, OPEN_CREATE_NEW);
}

void report_outcome(PatchJob& job, int result) {
    if (result == 0) {
        std::memcpy(job.display_path, job.output_path, sizeof job.display_path);
        drop_path_prefix(job.display_path, std::strlen(job.start_folder));
        print_patch_succeeded(job.display_path);
    } else if (result == DECODE_CHECKSUM_MISMATCH) {
        // display_path still names the identified image, never the intermediate one.
        print_crc_failed(job.display_path);
    } else {
        print_patch_failed();
    }
}

// `output_at_risk` turns true where the old output is deleted on purpose: from then on
// a file at output_path is this run's own, and a failure deletes it. Before that point
// a file there is the player's (an earlier output) and is left alone.
int patch_us_image(PatchJob& job, bool* output_at_risk) {
    *output_at_risk = true;
    platform_remove(job.output_path);
    return apply_patch(1, 0, 100, PROGRESS_TOTAL, job.image_path, job.output_path, job.patch_path);
}

// Returns the result of the whole European path; a failed rebuild is a failure of
// its own, never passed on to the patch step.
int patch_eu_image(PatchJob& job, bool* output_at_risk) {
    WriterValues writer{};
    writer.source_path = job.image_path;
    writer.source_fd = &job.image_fd;
    writer.buffer = &job.read_buffer;
    writer.total = PROGRESS_TOTAL;
    writer.output_fd = job.temp_fd;
    writer.bytes_written = &job.bytes_written;
    writer.divisor = 2;
    const bool rebuilt = rebuild_intermediate_image(writer);
    const bool closed = platform_close(job.temp_fd) == 0;
    job.temp_fd = -1;
    if (!rebuilt || !closed) {
        return REBUILD_FAILED;
    }
    *output_at_risk = true;
    platform_remove(job.output_path);
    return apply_patch(1, 50, 100, PROGRESS_TOTAL, job.temp_path, job.output_path, job.patch_path);
}

}  // namespace

void run_patching(PatchJob& job) {
    print_patching();
    // From here until the clean-up below an interruption must not leave a half-made
    // file behind: it makes the work fail instead, and the failure path deletes.
    platform_guard_files(true);
    // The suffixes are ASCII, one unit a byte, as is the ".iso" they replace.
    const bool names_within_limit =
        utf16_units(job.image_path) + LONGEST_SUFFIX_LENGTH <= MAX_PATH_UNITS + IMAGE_EXTENSION_LENGTH;
    if (!names_within_limit ||
        !replace_path_ending(job.output_path, sizeof job.output_path, job.image_path, IMAGE_EXTENSION_LENGTH,
                             OUTPUT_SUFFIX) ||
        (job.region == EU && !replace_path_ending(job.temp_path, sizeof job.temp_path, job.image_path,
                                                  IMAGE_EXTENSION_LENGTH, TEMP_SUFFIX))) {
        // The image's path leaves no room for the names of the files to write.
        print_patch_failed();
        platform_guard_files(false);
        return;
    }

    bool temp_created = false;
    bool output_at_risk = false;
    int result = 0;
    if (job.region == US) {
        result = patch_us_image(job, &output_at_risk);
    } else {
        job.temp_fd = create_intermediate_image(job.temp_path);
        if (job.temp_fd < 0) {
            job.temp_fd = -1;
            print_temp_create_failed();
            platform_guard_files(false);
            return;
        }
        temp_created = true;
        result = patch_eu_image(job, &output_at_risk);
    }

    report_outcome(job, result);
    if (temp_created) {
        platform_remove(job.temp_path);
    }
    if (result != 0 && output_at_risk) {
        platform_remove(job.output_path);
    }
    platform_guard_files(false);
}
