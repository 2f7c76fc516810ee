#include "app/run_patching.h"

#include <cstdio>
#include <cstring>

#include "app/failure_reasons.h"
#include "app/identification.h"
#include "app/image_crc.h"
#include "app/messages.h"
#include "app/preflight.h"
#include "fs/path_helpers.h"
#include "platform/platform.h"
#include "rebuild/rebuild_script.h"
#include "vcdiff/apply_patch.h"
#include "vcdiff/decode_types.h"

namespace {

// The names of the files written beside the image replace its last four characters
// (".iso", whatever their case).
constexpr std::size_t IMAGE_EXTENSION_LENGTH = 4;

// What one run wrote, for the clean-up.
struct Written {
    bool temp_created;
    bool part_created;
    // True where the old output is deleted on purpose: from then on a file at output_path
    // is this run's own, and a failure deletes it. Before that point a file there is the
    // player's (an earlier output) and is left alone.
    bool output_at_risk;
    // Why the last call that changed files failed, taken where the failure was seen.
    FileFailure failure;
};

// The intermediate image's and the part file's names are the program's own: whatever
// non-folder entry has one is a leftover of a run that was killed (a power loss, the
// process ended by force) and goes; the run lock keeps a live run's files out of reach.
// Removing a link never follows it, so neither its target nor the image behind a second
// hard link is touched. The file is then created exclusively, so that nothing put in its
// place meanwhile is followed or truncated. It fails when a folder has the name, or the
// removal or the creation fails.
int create_intermediate_image(const char* temp_path) {
    platform_remove(temp_path);
    platform_forget_failure();
    return platform_open(temp_path, OPEN_CREATE_NEW);
}

std::FILE* create_part_file(const char* part_path) {
    platform_remove(part_path);
    platform_forget_failure();
    return platform_fcreate_new(part_path);
}

bool name_files(PatchJob& job) {
    const auto beside_image = [&job](char (&out)[PATH_BUFFER_SIZE], const char* suffix) {
        return replace_path_ending(out, sizeof out, job.image_path, IMAGE_EXTENSION_LENGTH, suffix);
    };
    // The suffixes are ASCII, one unit a byte, as is the ".iso" they replace.
    return utf16_units(job.image_path) + LONGEST_SUFFIX_LENGTH <= MAX_PATH_UNITS + IMAGE_EXTENSION_LENGTH &&
           beside_image(job.output_path, OUTPUT_SUFFIX) && beside_image(job.part_path, PART_SUFFIX) &&
           (job.region != EU || beside_image(job.temp_path, TEMP_SUFFIX));
}

int patch_us_image(PatchJob& job, std::FILE* part, Written* written) {
    written->output_at_risk = true;
    platform_remove(job.output_path);
    platform_forget_failure();
    return apply_patch_into(1, 0, 100, PROGRESS_TOTAL, job.image_path, part, job.patch_path);
}

// Returns the result of the whole European path; a failed rebuild is a failure of
// its own, never passed on to the patch step.
int patch_eu_image(PatchJob& job, std::FILE* part, Written* written) {
    WriterValues writer{};
    writer.source_path = job.image_path;
    writer.source_fd = &job.image_fd;
    writer.buffer = &job.read_buffer;
    writer.total = PROGRESS_TOTAL;
    writer.output_fd = job.temp_fd;
    writer.bytes_written = &job.bytes_written;
    writer.divisor = 2;
    WriteOut temp_write_out{};
    writer.write_out = &temp_write_out;
    platform_forget_failure();
    const bool rebuilt = rebuild_intermediate_image(writer);
    const bool closed = platform_close(job.temp_fd) == 0;
    job.temp_fd = -1;
    if (!rebuilt || !closed) return REBUILD_FAILED;
    written->output_at_risk = true;
    platform_remove(job.output_path);
    platform_forget_failure();
    return apply_patch_into(1, 50, 100, PROGRESS_TOTAL, job.temp_path, part, job.patch_path);
}

// A patched part file is flushed to the disk and closed, then takes the output's name in
// one step: until then no file of that name exists, so a run that is killed (even by a
// power loss) never leaves a half-made one. The part file is closed in every case.
int finish_output(PatchJob& job, std::FILE* part, int result, Written* written) {
    if (result != 0) {
        // Why it failed is the work's; the part file goes anyway.
        written->failure = platform_last_failure();
        finish_patch_output(part, result);
        return result;
    }
    result = finish_patch_output(part, result);
    if (result != 0) {
        written->failure = platform_last_failure();
        return result;
    }
    switch (platform_rename_replacing(job.part_path, job.output_path)) {
        case RENAME_DONE:
            return 0;
        case RENAME_FAILED:
            // Finished, verified and on the disk: never thrown away for its name.
            return OUTPUT_KEPT;
        default:
            written->failure = platform_last_failure();
            return OUTPUT_NOT_NAMED;
    }
}

// Everything from the first file created to the part file closed; `written` tells what
// the clean-up has to do.
int write_beside_image(PatchJob& job, Written* written) {
    if (job.region == EU) {
        job.temp_fd = create_intermediate_image(job.temp_path);
        if (job.temp_fd < 0) {
            job.temp_fd = -1;
            written->failure = platform_last_failure();
            return TEMP_NOT_CREATED;
        }
        written->temp_created = true;
    }
    // Before anything is written, so that a folder in the way costs the player nothing.
    std::FILE* part = create_part_file(job.part_path);
    if (part == nullptr) {
        written->failure = platform_last_failure();
        if (written->temp_created) {
            platform_close(job.temp_fd);
            job.temp_fd = -1;
        }
        return PART_NOT_CREATED;
    }
    written->part_created = true;
    const int result = job.region == US ? patch_us_image(job, part, written) : patch_eu_image(job, part, written);
    return finish_output(job, part, result, written);
}

void delete_what_failed(const PatchJob& job, const Written& written, int result) {
    if (written.temp_created) platform_remove(job.temp_path);
    if (written.part_created && result != OUTPUT_KEPT) platform_remove(job.part_path);
    if (written.output_at_risk && result != OUTPUT_KEPT) platform_remove(job.output_path);
}

// A window failed its checksum: either the image is not the expected dump or the patch is
// damaged. The image's CRC32 tells which.
void report_checksum_failure(const PatchJob& job) {
    std::uint32_t crc = 0;
    if (!image_crc32(job.image_path, &crc)) {
        print_crc_failed(job.display_path);
        return;
    }
    print_crc_verdict(job.display_path, job.patch_display_path, crc, job.region == US ? US_IMAGE_CRC32 : EU_IMAGE_CRC32);
}

void report_failure(const PatchJob& job, int result, FileFailure failure) {
    // The player stopped the run: the work failed on purpose, there is nothing to explain.
    if (platform_interrupted()) {
        print_patch_failed();
        return;
    }
    char display[PATH_BUFFER_SIZE];
    switch (result) {
        case DECODE_CHECKSUM_MISMATCH:
            report_checksum_failure(job);
            return;
        case OUTPUT_KEPT: {
            char part_display[PATH_BUFFER_SIZE];
            display_of(display, job, job.output_path);
            display_of(part_display, job, job.part_path);
            print_output_kept(display, part_display);
            return;
        }
        case TEMP_NOT_CREATED:
            print_temp_create_failed();
            break;
        default:
            print_patch_failed();
            break;
    }
    print_failure_reason(job, result, failure);
}

}  // namespace

void run_patching(PatchJob& job) {
    // Another run on this image would take its files for leftovers: leave it alone.
    if (platform_lock_run(job.image_path) == RUN_LOCK_HELD_ELSEWHERE) {
        print_other_run(job.display_path);
        return;
    }
    print_patching();
    // From here until the clean-up below an interruption must not leave a half-made
    // file behind: it makes the work fail instead, and the failure path deletes.
    platform_guard_files(true);
    if (!name_files(job)) {
        // The image's path leaves no room for the names of the files to write.
        print_patch_failed();
        print_names_too_long(job.display_path);
    } else if (ready_to_write(job)) {
        Written written{};
        const int result = write_beside_image(job, &written);
        if (result == 0) {
            char display[PATH_BUFFER_SIZE];
            display_of(display, job, job.output_path);
            print_patch_succeeded(display);
            if (written.temp_created) platform_remove(job.temp_path);
        } else {
            delete_what_failed(job, written, result);
            // Nothing of the run is at risk any more: an interruption may end it at once.
            platform_guard_files(false);
            report_failure(job, result, written.failure);
        }
    }
    platform_guard_files(false);
    platform_unlock_run();
}
