// The reason behind a Windows error code.
#include "platform/file_failure.h"

#include "platform/windows_headers.h"

FileFailure failure_from_windows_error(unsigned long error) {
    switch (error) {
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return FAILURE_HELD;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
        case ERROR_FILE_READ_ONLY:
            return FAILURE_DENIED;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return FAILURE_NO_SPACE;
        default:
            return FAILURE_OTHER;
    }
}
