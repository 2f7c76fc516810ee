// File information by handle, and the FAT volume of the fault-injection build.
#include "platform/handle_info.h"

#include <cstdlib>
#include <cstring>

#include "platform/windows_declarations.h"

namespace {

#ifdef ORV_FAULT_INJECTION
// FAT32 and exFAT implement neither the attribute-tag query nor POSIX-style deletion and
// renaming: they fail with ERROR_INVALID_PARAMETER. (They have no links either: nothing to do.)
bool refused_here(FILE_INFO_BY_HANDLE_CLASS kind) {
    static const bool fat = [] {
        const char* file_system = std::getenv("ORV_FAULT_FILE_SYSTEM");
        return file_system != nullptr && std::strcmp(file_system, "fat") == 0;
    }();
    if (!fat || (kind != FileAttributeTagInfo && kind != DISPOSITION_INFO_EX && kind != RENAME_INFO_EX)) return false;
    SetLastError(ERROR_INVALID_PARAMETER);
    return true;
}
#else
bool refused_here(FILE_INFO_BY_HANDLE_CLASS) { return false; }
#endif

}  // namespace

BOOL query_handle_info(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void* info, DWORD size) {
    return !refused_here(kind) && GetFileInformationByHandleEx(file, kind, info, size);
}

BOOL set_handle_info(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void* info, DWORD size) {
    return !refused_here(kind) && SetFileInformationByHandle(file, kind, info, size);
}

bool request_refused(DWORD error) {
    return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION ||
           error == ERROR_CALL_NOT_IMPLEMENTED;
}
