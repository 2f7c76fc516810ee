// After "Le patchage a échoué.", the line that tells the player why and what to do, where
// the program knows.
#pragma once

#include "app/patch_job.h"
#include "platform/platform.h"

// The front end's own results, apart from 0 and every result of the patch driver.
inline constexpr int REBUILD_FAILED = -1;       // the intermediate image could not be written whole
inline constexpr int OUTPUT_NOT_NAMED = -2;     // the part file has the output's name, not yet on the disk
inline constexpr int OUTPUT_KEPT = -3;          // finished and flushed, but it could not take its name
inline constexpr int PART_NOT_CREATED = -4;     // nothing written
inline constexpr int TEMP_NOT_CREATED = -5;     // nothing written

// Prints the reason line for `result` (a failure other than a checksum mismatch), or
// nothing when the program cannot tell. `failure` is what the platform said about the
// failing call that changed files, if one did.
void print_failure_reason(const PatchJob& job, int result, FileFailure failure);
