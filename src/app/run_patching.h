// Writing the patched image beside the identified one, and reporting the outcome.
#pragma once

#include "app/patch_job.h"

inline constexpr char OUTPUT_SUFFIX[] = "_patched.iso";
inline constexpr char TEMP_SUFFIX[] = "_temp.iso";
// The patched image is written under this name and renamed to OUTPUT_SUFFIX only once
// it is whole and on the disk: a file with the output's name is always a finished one.
inline constexpr char PART_SUFFIX[] = "_patched.iso.part";
// The longest ending the program puts in place of the image's ".iso": the image's path
// must leave room for it within MAX_PATH_UNITS, or the run writes nothing.
inline constexpr std::size_t LONGEST_SUFFIX_LENGTH = sizeof PART_SUFFIX - 1;

// Patches the US image directly, or rebuilds the European image into the
// intermediate image first; prints the outcome and deletes every file that must not
// stay. The success message comes only after the patched image has its name. Returns to
// the run, which then prompts for a key.
void run_patching(PatchJob& job);
