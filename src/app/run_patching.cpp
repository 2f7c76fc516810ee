#include "app/run_patching.h"

#include <cstdio>
#include <cstring>

#include "app/messages.h"
#include "fs/path_helpers.h"
#include "platform/platform.h"
#include "rebuild/rebuild_script.h"
#include "vcdiff/apply_patch.h"
#include "vcdiff/decode_types.h"

namespace {

// The front end's own results, distinct from 0 and from every patch result it reports
// apart: a rebuild that could not write the whole intermediate image, and a finished
// part file that could not take the output's name.
constexpr int REBUILD_FAILED = -1;
constexpr int OUTPUT_NOT_NAMED = -2;

// The names of the files written beside the image replace its last four characters
// (".iso", whatever their case).
constexpr std::size_t IMAGE_EXTENSION_LENGTH = 4;

// The intermediate image's and the part file's names are the program's own: whatever
// non-folder entry has one is a leftover of a run that was killed (a power loss, the
// process ended by force) and goes. Removing a link never follows it, so neither its
// target nor the image behind a second hard link is touched. The file is then created
// exclusively, so that nothing put in its place meanwhile is followed or truncated. It
// fails when a folder has the name, or the removal or the creation fails.
int create_intermediate_image(const char* temp_path) {
    platform_remove(temp_path);
    return platform_open(temp_path, OPEN_CREATE_NEW);
}

std::FILE* create_part_file(const char* part_path) {
    platform_remove(part_path);
    return platform_fcreate_new(part_path);
}

bool name_files(PatchJob& job) {
    const auto beside_image = [&job](char (&out)[PATH_BUFFER_SIZE], const char* suffix) {
        return replace_path_ending(out, sizeof out, job.image_path, IMAGE_EXTENSION_LENGTH, suffix);
    };
    return beside_image(job.output_path, OUTPUT_SUFFIX) && beside_image(job.part_path, PART_SUFFIX) &&
           (job.region != EU || beside_image(job.temp_path, TEMP_SUFFIX));
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
int patch_us_image(PatchJob& job, std::FILE* part, bool* output_at_risk) {
    *output_at_risk = true;
    platform_remove(job.output_path);
    return apply_patch_into(1, 0, 100, PROGRESS_TOTAL, job.image_path, part, job.patch_path);
}

// Returns the result of the whole European path; a failed rebuild is a failure of
// its own, never passed on to the patch step.
int patch_eu_image(PatchJob& job, std::FILE* part, bool* output_at_risk) {
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
    return apply_patch_into(1, 50, 100, PROGRESS_TOTAL, job.temp_path, part, job.patch_path);
}

// A patched part file is flushed to the disk and closed, then takes the output's name in
// one step: until then no file of that name exists, so a run that is killed (even by a
// power loss) never leaves a half-made one. The part file is closed in every case.
int finish_output(PatchJob& job, std::FILE* part, int result) {
    result = finish_patch_output(part, result);
    if (result != 0) return result;
    return platform_rename_replacing(job.part_path, job.output_path) == 0 ? 0 : OUTPUT_NOT_NAMED;
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
    if (!names_within_limit || !name_files(job)) {
        // The image's path leaves no room for the names of the files to write.
        print_patch_failed();
        platform_guard_files(false);
        return;
    }

    bool temp_created = false;
    if (job.region == EU) {
        job.temp_fd = create_intermediate_image(job.temp_path);
        if (job.temp_fd < 0) {
            job.temp_fd = -1;
            print_temp_create_failed();
            platform_guard_files(false);
            return;
        }
        temp_created = true;
    }
    // Before anything is written, so that a folder in the way costs the player nothing.
    std::FILE* part = create_part_file(job.part_path);
    if (part == nullptr) {
        if (temp_created) {
            platform_close(job.temp_fd);
            job.temp_fd = -1;
            platform_remove(job.temp_path);
        }
        print_patch_failed();
        platform_guard_files(false);
        return;
    }

    bool output_at_risk = false;
    int result = job.region == US ? patch_us_image(job, part, &output_at_risk)
                                  : patch_eu_image(job, part, &output_at_risk);
    result = finish_output(job, part, result);

    report_outcome(job, result);
    if (temp_created) {
        platform_remove(job.temp_path);
    }
    if (result != 0) {
        platform_remove(job.part_path);
        if (output_at_risk) {
            platform_remove(job.output_path);
        }
    }
    platform_guard_files(false);
}
