// What a run finds out before it writes anything, so that a run bound to fail for these
// reasons changes nothing: a folder with the name of a file it writes, the image's old
// output held by another program, too little room on the image's volume.
#pragma once

#include <cstdint>

#include "app/patch_job.h"

// The patched image's size (the intermediate image's is the rebuild's).
inline constexpr std::uint64_t PATCHED_IMAGE_SIZE = PROGRESS_TOTAL;

// The entries of the program's own names beside the image, as the run finds them
// (platform_entry_size).
struct ExistingFiles {
    std::int64_t old_output;
    std::int64_t part;
    std::int64_t temp;
};

// Bytes the run needs beyond the volume's free space at its fullest: the part file (and on
// the European path the intermediate image first) minus what it deletes before, leftovers
// of its own names at once, an old output only once the intermediate image is written.
std::uint64_t space_needed(RegionKind region, const ExistingFiles& existing);

// Prints "Le patchage a échoué." and why, and returns false, when a folder has the
// output's or the part file's name, the old output is held open or the volume is too full;
// true when the run may start writing. The job's output, part and temporary paths must be
// named. (A folder with the intermediate image's name stops the run when it is created.)
bool ready_to_write(const PatchJob& job);
