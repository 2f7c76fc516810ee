#include "platform/file_failure.h"

#include <cerrno>

namespace {

FileFailure g_last_failure = FAILURE_NONE;

}  // namespace

void record_file_failure(FileFailure failure) { g_last_failure = failure; }

FileFailure platform_last_failure() { return g_last_failure; }

void platform_forget_failure() { g_last_failure = FAILURE_NONE; }

FileFailure failure_from_errno(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
        case EROFS:
            return FAILURE_DENIED;
        case ENOSPC:
#ifdef EDQUOT
        case EDQUOT:
#endif
        case EFBIG:
            return FAILURE_NO_SPACE;
        case EBUSY:
#ifdef ETXTBSY
        case ETXTBSY:
#endif
            return FAILURE_HELD;
        default:
            return FAILURE_OTHER;
    }
}
