// The whole run as the player sees it: banner, finding and identifying the image,
// choosing its patch, patching (run_patching), and the prompt at the end.
#pragma once

// Runs the patcher in the current directory. The outcome is told on the console
// only; the program's exit status is always 0.
void find_and_patch_image();
