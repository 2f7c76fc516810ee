#include "app/preflight.h"

#include <cstring>

#include "app/messages.h"
#include "fs/path_helpers.h"
#include "platform/platform.h"

namespace {

std::uint64_t size_of(std::int64_t entry) { return entry > 0 ? static_cast<std::uint64_t>(entry) : 0; }

std::uint64_t minus(std::uint64_t a, std::uint64_t b) { return a > b ? a - b : 0; }

}  // namespace

std::uint64_t space_needed(RegionKind region, const ExistingFiles& existing) {
    const std::uint64_t leftovers = size_of(existing.part) + size_of(existing.temp);
    if (region == US) {
        // The old output goes before the part file is written.
        return minus(PATCHED_IMAGE_SIZE, leftovers + size_of(existing.old_output));
    }
    // The intermediate image is written while the old output is still there, then the old
    // output goes and the part file is written beside the intermediate image.
    const std::uint64_t intermediate = INTERMEDIATE_IMAGE_SIZE;
    const std::uint64_t rebuilding = minus(intermediate, leftovers);
    const std::uint64_t patching = minus(intermediate + PATCHED_IMAGE_SIZE, leftovers + size_of(existing.old_output));
    return rebuilding > patching ? rebuilding : patching;
}

bool ready_to_write(const PatchJob& job) {
    const auto stop = [&job](void (*print)(const char*), const char* path) {
        char shown[PATH_BUFFER_SIZE];
        display_of(shown, job, path);
        print_patch_failed();
        print(shown);
        return false;
    };
    const ExistingFiles existing{platform_entry_size(job.output_path), platform_entry_size(job.part_path),
                                 job.region == EU ? platform_entry_size(job.temp_path) : ENTRY_NONE};
    if (existing.old_output == ENTRY_FOLDER) return stop(print_folder_in_the_way, job.output_path);
    if (existing.part == ENTRY_FOLDER) return stop(print_folder_in_the_way, job.part_path);
    if (platform_file_held(job.output_path)) return stop(print_output_held, job.output_path);

    char folder[PATH_BUFFER_SIZE];
    image_folder(folder, job);
    const std::int64_t free_bytes = platform_free_space(folder);
    const std::uint64_t needed = space_needed(job.region, existing);
    // A volume whose free space cannot be had is let through: the writes will tell.
    if (free_bytes >= 0 && static_cast<std::uint64_t>(free_bytes) < needed) {
        print_patch_failed();
        print_no_space(job.display_path, needed, static_cast<std::uint64_t>(free_bytes));
        return false;
    }
    return true;
}
