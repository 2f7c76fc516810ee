#include "progress/progress_line.h"

#include "platform/console_print.h"

// Each line goes out at once: it is the player's only sign of life during a long job.
void print_rebuild_progress(double percentage) { console_print(msg_rebuild_progress, percentage); }

void print_patch_progress(int percentage) { console_print(msg_patch_progress, percentage); }
