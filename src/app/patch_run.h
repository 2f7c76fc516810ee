// The whole run: banner, identification, choice of the patch, patching, prompt.
#pragma once

// Runs the patcher in the current directory. The outcome is told on the console
// only; the program's exit status is always 0.
void run_patch_program();
