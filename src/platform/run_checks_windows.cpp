// What the run asks of the system before it writes anything, and its lock, on Windows.
#include "platform/windows_headers.h"

#include <cstdlib>
#include <cwchar>

#include "platform/hold_wait.h"
#include "platform/platform.h"
#include "platform/wide_names.h"

namespace {

// The named mutex that stands for the run's lock; the system releases it with the process too.
HANDLE g_run_lock = nullptr;

}  // namespace

std::int64_t platform_entry_size(const char* path) {
    WideName wide;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    // The attributes of the entry itself: a link is not followed.
    if (!to_wide_name(path, &wide) || !GetFileAttributesExW(wide.text, GetFileExInfoStandard, &data)) return ENTRY_NONE;
    // A folder link is removed like a file link; only a real folder is in the way.
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return 0;
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return ENTRY_FOLDER;
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

std::int64_t platform_free_space(const char* path) {
#ifdef ORV_FAULT_INJECTION
    // Test builds: a volume as full as the tests need.
    if (const char* free_bytes = std::getenv("ORV_FAULT_FREE_SPACE")) return std::strtoll(free_bytes, nullptr, 10);
#endif
    WideName wide;
    ULARGE_INTEGER available{};
    // What this user may still use: quotas included.
    if (!to_wide_name(path, &wide) || !GetDiskFreeSpaceExW(wide.text, &available, nullptr, nullptr)) return -1;
    return available.QuadPart > static_cast<ULONGLONG>(INT64_MAX) ? INT64_MAX
                                                                  : static_cast<std::int64_t>(available.QuadPart);
}

bool platform_temporary_folder(char* buffer, std::uint32_t capacity) {
    WideName temp;
    WideName long_form;
    const DWORD length = GetTempPathW(static_cast<DWORD>(WIDE_NAME_CAPACITY), temp.text);
    if (length == 0 || length >= WIDE_NAME_CAPACITY) return false;
    // GetTempPathW may give the short 8.3 form (C:\Users\JEAN~1\...), the current directory the long one.
    const DWORD long_length = GetLongPathNameW(temp.text, long_form.text, static_cast<DWORD>(WIDE_NAME_CAPACITY));
    const WideName& chosen = long_length != 0 && long_length < WIDE_NAME_CAPACITY ? long_form : temp;
    return from_wide_name(chosen.text, buffer, capacity);
}

RunLock platform_lock_run(const char* path) {
    if (g_run_lock != nullptr) return RUN_LOCK_TAKEN;
    WideName wide;
    if (!to_wide_name(path, &wide)) return RUN_LOCK_UNAVAILABLE;
    // The file's identity, whatever name (a second hard link) it is reached by. The handle
    // is closed at once: while a handle is open on the image, Windows could not remove a
    // leftover that is a second name of it.
    const HANDLE file = CreateFileW(wide.text, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return RUN_LOCK_UNAVAILABLE;
    BY_HANDLE_FILE_INFORMATION identity{};
    const bool known = GetFileInformationByHandle(file, &identity) != 0;
    CloseHandle(file);
    if (!known) return RUN_LOCK_UNAVAILABLE;
    // A named mutex of the session: it exists as long as one run holds it.
    wchar_t name[96];
    std::swprintf(name, sizeof name / sizeof name[0], L"Local\\orvelia-patcher-%08lx-%08lx%08lx",
                  static_cast<unsigned long>(identity.dwVolumeSerialNumber),
                  static_cast<unsigned long>(identity.nFileIndexHigh), static_cast<unsigned long>(identity.nFileIndexLow));
    const HANDLE lock = CreateMutexW(nullptr, FALSE, name);
    if (lock == nullptr) return RUN_LOCK_UNAVAILABLE;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(lock);
        return RUN_LOCK_HELD_ELSEWHERE;
    }
    g_run_lock = lock;
    return RUN_LOCK_TAKEN;
}

void platform_unlock_run() {
    if (g_run_lock == nullptr) return;
    CloseHandle(g_run_lock);   // the mutex goes with its last handle
    g_run_lock = nullptr;
}

bool platform_file_held(const char* path) {
    WideName wide;
    if (!to_wide_name(path, &wide)) return false;
    Backoff backoff = backoff_start(HELD_CHECK_PATIENCE_MS);
    for (;;) {
        // Asking for the file with no sharing at all fails while anyone has it open, whatever
        // sharing they allowed: delete sharing too, which would leave a deletion pending.
        const HANDLE file = CreateFileW(wide.text, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            return false;
        }
        if (GetLastError() != ERROR_SHARING_VIOLATION) return false;
        if (!backoff_wait(&backoff)) return true;
    }
}
