// The console's input settings while the closing prompt waits, shared with the
// interruption handlers so that a program ended during the wait leaves them as found.
#pragma once

// Puts back the settings the wait changed, if it changed any; safe in a signal handler
// (POSIX) and on the console's control thread (Windows).
void restore_console_input();
