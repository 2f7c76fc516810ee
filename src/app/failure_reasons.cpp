#include "app/failure_reasons.h"

#include <cstring>

#include "app/messages.h"
#include "fs/path_helpers.h"
#include "platform/platform.h"
#include "vcdiff/apply_patch.h"
#include "vcdiff/decode_types.h"

namespace {

// The results that mean the patch file is not what its format says: cut short, damaged,
// or made with features this patcher does not have.
bool patch_at_fault(int result) {
    switch (result) {
        case DECODE_INVALID_INPUT:
        case DECODE_INTERNAL:
        case DECODE_UNIMPLEMENTED:
        case APPLY_PATCH_READ_FAILED:
        case APPLY_PATCH_NO_WINDOW:
            return true;
        default:
            return false;
    }
}

// Writing beside the image failed: either nothing may be written in its folder, or the
// disk took no more.
void print_write_reason(const PatchJob& job, const char* written, FileFailure failure) {
    char shown[PATH_BUFFER_SIZE];
    if (failure == FAILURE_DENIED) {
        image_folder(shown, job);
        print_cannot_write_here(shown);
    } else if (failure == FAILURE_NO_SPACE || failure == FAILURE_OTHER) {
        display_of(shown, job, written);
        print_write_failed(shown);
    }
}

// A source that is no longer what was identified (it shrank, or cannot be opened) fails the
// decoding too: the patch is blamed only while the image is as it was.
bool image_as_identified(const PatchJob& job) {
    if (platform_entry_size(job.image_path) != static_cast<std::int64_t>(job.image_size)) return false;
    const int fd = platform_open(job.image_path, OPEN_READ_ONLY);
    if (fd < 0) return false;
    platform_close(fd);
    return true;
}

}  // namespace

void print_failure_reason(const PatchJob& job, int result, FileFailure failure) {
    if (patch_at_fault(result) && image_as_identified(job)) {
        print_patch_damaged(job.patch_display_path);
        return;
    }
    switch (result) {
        case TEMP_NOT_CREATED:
            // A folder or a file that cannot go has the name: the old message says it all.
            if (failure == FAILURE_DENIED) print_write_reason(job, job.temp_path, failure);
            break;
        case PART_NOT_CREATED:
            if (failure == FAILURE_DENIED || failure == FAILURE_NO_SPACE) print_write_reason(job, job.part_path, failure);
            break;
        case REBUILD_FAILED:
            // Reads leave no failure behind: one recorded during the rebuild is its writes'.
            print_write_reason(job, job.temp_path, failure);
            break;
        case APPLY_OUTPUT_WRITE_FAILED:
        case APPLY_OUTPUT_FLUSH_FAILED:
        case OUTPUT_NOT_NAMED:
            print_write_reason(job, job.part_path, failure == FAILURE_NONE ? FAILURE_OTHER : failure);
            break;
        default:
            break;
    }
}
