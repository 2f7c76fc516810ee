#include "progress/progress_line.h"

#include <cstdio>

// Flushed at once: the line is the player's only sign of life during a long job.
void print_rebuild_progress(double percentage) {
    std::printf(msg_rebuild_progress, percentage);
    std::fflush(stdout);
}

void print_patch_progress(int percentage) {
    std::printf(msg_patch_progress, percentage);
    std::fflush(stdout);
}
