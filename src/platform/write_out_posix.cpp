// Write-out of an output while it is written (Linux).
#include "platform/write_out.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_failure.h"
#include "platform/interruption.h"

namespace {

// Ranges end on this boundary, so that no page is written out half full and then again.
constexpr std::int64_t RANGE_ALIGNMENT = 64 * 1024;

// What a file system, a sandbox or an old kernel answers when it takes no write-out.
bool refusal(int error) { return error == EINVAL || error == ESPIPE || error == ENOSYS || error == EOPNOTSUPP; }

int range_call(int fd, std::int64_t from, std::int64_t to, unsigned int flags) {
    int result = 0;
    do {
        result = sync_file_range(fd, static_cast<off_t>(from), static_cast<off_t>(to - from), flags);
    } while (result != 0 && errno == EINTR && !interrupt_pending());
    return result;
}

}  // namespace

int platform_write_out(WriteOut* state, std::FILE* stream) { return platform_write_out_fd(state, fileno(stream)); }

int platform_write_out_fd(WriteOut* state, int fd) {
    if (state->refused) return 0;
    // The system's position: the stream's own buffer is not the system's yet.
    const off_t handed = lseek(fd, 0, SEEK_CUR);
    if (handed < 0) {
        state->refused = true;
        return 0;
    }
    const std::int64_t end = static_cast<std::int64_t>(handed) / RANGE_ALIGNMENT * RANGE_ALIGNMENT;
    if (end - state->started < WRITE_OUT_RANGE) return 0;
    if (file_call_action(FAULT_WRITE_OUT, fault_role_of_descriptor(fd)) != FAULT_ACTION_NONE) {
        record_file_failure(FAILURE_OTHER);
        return -1;
    }
    // The wait reports a write error once for this open file, and the closing flush may
    // not see it again: it fails here.
    if (range_call(fd, state->started, end, SYNC_FILE_RANGE_WRITE) != 0 ||
        (state->waited < state->started &&
         range_call(fd, state->waited, state->started,
                    SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER) != 0)) {
        if (!refusal(errno)) {
            record_file_failure(failure_from_errno(errno));
            return -1;
        }
        state->refused = true;
        return 0;
    }
    state->waited = state->started;
    state->started = end;
    return 0;
}
