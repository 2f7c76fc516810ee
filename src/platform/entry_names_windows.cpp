// Deleting and renaming on Windows: by handle, POSIX-style where the volume offers it, the
// classic way where it does not, waiting out another program's brief hold.
#include "platform/windows_headers.h"

#include "platform/file_failure.h"
#include "platform/handle_info.h"
#include "platform/hold_wait.h"
#include "platform/interruption.h"
#include "platform/platform.h"
#include "platform/wide_names.h"
#include "platform/windows_declarations.h"

namespace {

// ERROR_SUCCESS when the open entry is a file or a link of any kind; a real folder is refused
// as DeleteFileW refuses one.
DWORD check_removable(HANDLE entry) {
    // Every file system answers FileBasicInfo; FAT32 and exFAT refuse the attribute-tag query.
    FILE_BASIC_INFO basic{};
    if (!query_handle_info(entry, FileBasicInfo, &basic, sizeof basic)) return GetLastError();
    if ((basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return ERROR_SUCCESS;
    // Only a reparse point has a tag; a volume that cannot tell it reports none.
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if ((basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
        !query_handle_info(entry, FileAttributeTagInfo, &tag, sizeof tag)) {
        const DWORD error = GetLastError();
        if (!request_refused(error)) return error;
        tag.ReparseTag = 0;
    }
    return is_link_entry(basic.FileAttributes, tag.ReparseTag) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

DWORD dispose(HANDLE entry) {
    // POSIX-style, the name goes at once, even while another program holds the file with
    // delete sharing; the classic way, it stays until that program lets go.
    DispositionInfoEx posix{DISPOSE_DELETE | DISPOSE_POSIX_SEMANTICS};
    if (set_handle_info(entry, DISPOSITION_INFO_EX, &posix, sizeof posix)) return ERROR_SUCCESS;
    const DWORD error = GetLastError();
    if (!request_refused(error)) return error;
    FILE_DISPOSITION_INFO classic{TRUE};
    return set_handle_info(entry, FileDispositionInfo, &classic, sizeof classic) ? ERROR_SUCCESS : GetLastError();
}

// One attempt at deleting the entry `name` itself. The name is opened without following a
// link, and that very entry is deleted: what a link leads to is never reached, and nothing
// can be swapped in between.
DWORD remove_entry(const wchar_t* name) {
    const HANDLE entry = CreateFileW(name, DELETE | FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (entry == INVALID_HANDLE_VALUE) return GetLastError();
    DWORD error = check_removable(entry);
    if (error == ERROR_SUCCESS) error = dispose(entry);
    CloseHandle(entry);
    return error;
}

struct RenameAttempt {
    int result;    // RenameResult
    DWORD error;   // why it is not RENAME_DONE
};

// One attempt at giving the file `from` the full name `to`, on a handle of the file.
RenameAttempt rename_file(const wchar_t* from, const RenameInfo& request) {
    // Writable, so that the new name can be flushed to the disk through it.
    const HANDLE file = CreateFileW(from, DELETE | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return RenameAttempt{RENAME_FAILED, GetLastError()};
    // POSIX-style, a file of the new name that is held with delete sharing, or whose deletion
    // is pending, is replaced at once.
    RenameInfo info = request;
    info.flags = RENAME_REPLACE_IF_EXISTS | RENAME_POSIX_SEMANTICS;
    bool renamed = set_handle_info(file, RENAME_INFO_EX, &info, sizeof info) != 0;
    DWORD error = renamed ? ERROR_SUCCESS : GetLastError();
    if (!renamed && request_refused(error)) {
        info.flags = RENAME_REPLACE_IF_EXISTS;   // ReplaceIfExists
        renamed = set_handle_info(file, FileRenameInfo, &info, sizeof info) != 0;
        error = renamed ? ERROR_SUCCESS : GetLastError();
    }
    if (!renamed) {
        CloseHandle(file);
        return RenameAttempt{RENAME_FAILED, error};
    }
    // As MoveFileExW's write-through does: the file's metadata, its new name with it, go to
    // the disk before the call returns.
    const bool flushed = fault_count_sync(ROLE_FOLDER, FlushFileBuffers(file) != 0);
    error = flushed ? ERROR_SUCCESS : GetLastError();
    CloseHandle(file);
    return RenameAttempt{flushed ? RENAME_DONE : RENAME_NOT_ON_DISK, error};
}

}  // namespace

int platform_remove(const char* path) {
    WideName name{};
    if (!to_wide_name(path, &name)) {
        record_file_failure(FAILURE_OTHER);
        return -1;
    }
    Backoff backoff = backoff_start(HOLD_PATIENCE_MS);
    for (;;) {
        const DWORD error = remove_entry(name.text);
        if (error == ERROR_SUCCESS) return 0;
        if (!may_pass_later(error, name.text) || !backoff_wait(&backoff)) {
            record_file_failure(failure_from_windows_error(error));
            return -1;
        }
    }
}

int platform_rename_replacing(const char* from, const char* to) {
    if (file_call_action(FAULT_RENAME, fault_role_of_name(from)) != FAULT_ACTION_NONE) {
        record_file_failure(FAILURE_OTHER);
        return RENAME_FAILED;
    }
    WideName old_name{};
    WideName new_name{};
    RenameInfo request{};
    // The new name in full: the request holds no folder handle to resolve it from.
    const DWORD length = to_wide_name(from, &old_name) && to_wide_name(to, &new_name)
                             ? GetFullPathNameW(new_name.text, WIDE_NAME_CAPACITY, request.name, nullptr)
                             : 0;
    if (length == 0 || length >= WIDE_NAME_CAPACITY) {
        record_file_failure(FAILURE_OTHER);
        return RENAME_FAILED;
    }
    request.name_bytes = static_cast<DWORD>(length * sizeof(wchar_t));
    Backoff backoff = backoff_start(HOLD_PATIENCE_MS);
    for (;;) {
        const RenameAttempt attempt = rename_file(old_name.text, request);
        if (attempt.result == RENAME_DONE) {
            // A failing flush stands for a new name the disk did not take in.
            if (platform_fault(FAULT_SYNC, ROLE_FOLDER) == FAULT_ACTION_NONE) return RENAME_DONE;
            record_file_failure(FAILURE_OTHER);
            return RENAME_NOT_ON_DISK;
        }
        // Access denied is worth waiting for only while a file of the new name is in the way.
        if (attempt.result != RENAME_FAILED || !may_pass_later(attempt.error, request.name) ||
            !backoff_wait(&backoff)) {
            record_file_failure(failure_from_windows_error(attempt.error));
            return attempt.result;
        }
    }
}
