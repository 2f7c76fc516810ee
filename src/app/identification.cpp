#include "app/identification.h"

#include <cstdlib>
#include <cstring>

#include "fs/file_access.h"
#include "platform/platform.h"

namespace {

// Reads `length` bytes at `offset` of the candidate and compares them. A read that
// fails or comes back short is a mismatch.
bool bytes_match(PatchJob& job, std::uint64_t offset, const void* expected, std::uint32_t length) {
    std::uint32_t count = 0;
    const int read = read_file_range(&job.image_fd, job.image_path, &job.read_buffer, &count, length, offset);
    const bool match = read == 1 && job.read_buffer != nullptr && count == length &&
                       std::memcmp(job.read_buffer, expected, length) == 0;
    std::free(job.read_buffer);
    job.read_buffer = nullptr;
    return match;
}

void close_image(PatchJob& job) {
    if (job.image_fd >= 0) {
        platform_close(job.image_fd);
        job.image_fd = -1;
    }
}

}  // namespace

ImageIdentity identify_image(PatchJob& job) {
    open_with_mode(&job.image_fd, job.image_path, 0);
    if (job.image_fd < 0) {
        job.image_fd = -1;
        return IMAGE_OPEN_FAILED;
    }
    // The exact 64-bit size: a file 4 GiB longer than a release must not pass for it.
    const std::int64_t length = platform_file_length(job.image_fd);
    if (length < 0) {
        close_image(job);
        return IMAGE_UNKNOWN;
    }
    job.image_size = static_cast<std::uint64_t>(length);

    if (job.image_size == US_IMAGE_SIZE) {
        if (!bytes_match(job, US_BOOT_PATH_OFFSET, US_BOOT_PATH, BOOT_PATH_LENGTH)) {
            return IMAGE_UNKNOWN;
        }
        return bytes_match(job, US_MARKER_OFFSET, US_MARKER, sizeof US_MARKER) ? IMAGE_US : IMAGE_UNKNOWN;
    }
    if (job.image_size == EU_IMAGE_SIZE) {
        return bytes_match(job, EU_BOOT_PATH_OFFSET, EU_BOOT_PATH, BOOT_PATH_LENGTH) ? IMAGE_EU : IMAGE_UNKNOWN;
    }
    close_image(job);
    return IMAGE_UNKNOWN;
}
