// What POSIX-style deletion and renaming by handle (Windows 10 1709 and later) need and the
// mingw-w64 headers may lack, declared under names of our own from Microsoft's documentation
// of SetFileInformationByHandle, FILE_INFO_BY_HANDLE_CLASS, FILE_DISPOSITION_INFO_EX and
// FILE_RENAME_INFO. (mingw-w64 leaves the two classes out of its enumeration: it tests
// _WIN32_WINNT against a version of the NTDDI kind, which it never reaches.)
#pragma once

#include "platform/windows_headers.h"

#include <cstddef>

#include "platform/wide_names.h"

// FileDispositionInfoEx and FileRenameInfoEx, right after FileIdExtdDirectoryRestartInfo.
inline constexpr auto DISPOSITION_INFO_EX = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
inline constexpr auto RENAME_INFO_EX = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
static_assert(static_cast<int>(FileIdBothDirectoryInfo) == 10 && static_cast<int>(FileFullDirectoryInfo) == 14,
              "FILE_INFO_BY_HANDLE_CLASS as documented");

// FILE_DISPOSITION_INFO_EX: one DWORD of flags.
struct DispositionInfoEx {
    DWORD flags;
};
inline constexpr DWORD DISPOSE_DELETE = 0x1;           // FILE_DISPOSITION_FLAG_DELETE
inline constexpr DWORD DISPOSE_POSIX_SEMANTICS = 0x2;  // FILE_DISPOSITION_FLAG_POSIX_SEMANTICS

// FILE_RENAME_INFO, with room for any name: its first member is a union of the BOOLEAN
// ReplaceIfExists (FileRenameInfo) and the DWORD Flags (FileRenameInfoEx); the name is counted
// in bytes, without its terminator.
struct RenameInfo {
    DWORD flags;
    HANDLE root_directory;
    DWORD name_bytes;
    wchar_t name[WIDE_NAME_CAPACITY];
};
inline constexpr DWORD RENAME_REPLACE_IF_EXISTS = 0x1;  // FILE_RENAME_FLAG_REPLACE_IF_EXISTS; as flags, also ReplaceIfExists = TRUE
inline constexpr DWORD RENAME_POSIX_SEMANTICS = 0x2;    // FILE_RENAME_FLAG_POSIX_SEMANTICS
static_assert(offsetof(RenameInfo, root_directory) == offsetof(FILE_RENAME_INFO, RootDirectory) &&
                  offsetof(RenameInfo, name_bytes) == offsetof(FILE_RENAME_INFO, FileNameLength) &&
                  offsetof(RenameInfo, name) == offsetof(FILE_RENAME_INFO, FileName),
              "FILE_RENAME_INFO as documented");
