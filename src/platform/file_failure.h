// The reason a file call failed, kept where the platform layer saw it, for the caller to
// read with platform_last_failure() right after the failing call.
#pragma once

#include "platform/platform.h"

void record_file_failure(FileFailure failure);
// The reason behind a C library error number.
FileFailure failure_from_errno(int error);
#ifdef _WIN32
// The reason behind a Windows error code (GetLastError(), the C runtime's _doserrno).
FileFailure failure_from_windows_error(unsigned long error);
#endif
