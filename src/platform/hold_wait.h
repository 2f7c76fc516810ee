// Waiting out another program's brief hold on a file. Virus scanners (real-time protection),
// the search indexer and cloud-sync clients open a file for a moment once it is closed, or
// changed; meanwhile deleting, replacing or creating that name fails with a sharing violation,
// a lock violation or access denied. The file calls try again, with a growing pause.
#pragma once

#include "platform/windows_headers.h"

// How long a deletion, a rename or a creation keeps trying before it fails. A scanner reads the
// file it opened through once: a freshly closed image of 2.6 GB takes it seconds on an internal
// disk, tens of seconds on a slow USB stick; half a minute covers most, and a player looking at
// a progress line stopped at 100 % waits that long without taking the run for stuck.
inline constexpr DWORD HOLD_PATIENCE_MS = 30000;
// How long platform_file_held() waits before it says a file is held: an emulator holds its
// image for as long as it runs, so this only lets a scanner's moment pass.
inline constexpr DWORD HELD_CHECK_PATIENCE_MS = 2000;

struct Backoff {
    ULONGLONG deadline;   // GetTickCount64() value
    DWORD pause_ms;       // before the next attempt
};
Backoff backoff_start(DWORD patience_ms);
// Pauses before the next attempt: 10 ms first, doubling up to 1 s, never past the deadline.
// False at once, without a pause, when the deadline has passed or an interruption is pending.
bool backoff_wait(Backoff* backoff);

// Whether a call on the entry `name` that failed with `error` may pass once another program lets
// go of it: a sharing or lock violation, or access denied while `name` is listed as a file that
// is not read-only (its deletion is pending while another program holds it, or that program
// holds it open). Access denied with nothing of that name (a folder the player may not write
// to), on a folder or on a read-only file lasts.
bool may_pass_later(DWORD error, const wchar_t* name);
