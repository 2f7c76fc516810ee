// The one console line that shows how far the job has got. The rebuild and the patch
// driver both write it; it lives below them so that neither depends on the front end.
#pragma once

inline constexpr char msg_rebuild_progress[] = "Progression: %0.f %%\r";
inline constexpr char msg_patch_progress[] = "Progression: %d %%\r";

// Each line ends with a carriage return and overwrites the one before it.
void print_rebuild_progress(double percentage);  // rounded to a whole number
void print_patch_progress(int percentage);
