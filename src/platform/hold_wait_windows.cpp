// Pauses between the attempts of a file call that another program's hold makes fail.
#include "platform/hold_wait.h"

#include <algorithm>

#include "platform/interruption.h"

namespace {

constexpr DWORD FIRST_PAUSE_MS = 10;
constexpr DWORD LONGEST_PAUSE_MS = 1000;
// A pause is slept in slices this long, so that an interruption ends it within one.
constexpr DWORD SLICE_MS = 10;

}  // namespace

Backoff backoff_start(DWORD patience_ms) { return Backoff{GetTickCount64() + patience_ms, FIRST_PAUSE_MS}; }

bool backoff_wait(Backoff* backoff) {
    const ULONGLONG start = GetTickCount64();
    if (start >= backoff->deadline || interrupt_pending()) return false;
    const ULONGLONG until = std::min(start + backoff->pause_ms, backoff->deadline);
    for (ULONGLONG now = start; now < until; now = GetTickCount64()) {
        if (interrupt_pending()) return false;
        Sleep(static_cast<DWORD>(std::min<ULONGLONG>(until - now, SLICE_MS)));
    }
    backoff->pause_ms = std::min(backoff->pause_ms * 2, LONGEST_PAUSE_MS);
    return !interrupt_pending();
}

bool may_pass_later(DWORD error, const wchar_t* name) {
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return true;
    if (error != ERROR_ACCESS_DENIED) return false;
    // The folder's listing still shows a name whose deletion is pending; opening it, as
    // GetFileAttributesW does, fails with access denied.
    WIN32_FIND_DATAW entry{};
    const HANDLE find = FindFirstFileExW(name, FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) return false;
    FindClose(find);
    return (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) == 0;
}
