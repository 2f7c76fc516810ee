#include <cstdio>
#include <cstring>

#include "app/find_and_patch.h"
#include "build_version.h"

int main(int argc, char** argv) {
    // The one argument understood, so that a player can tell which build they have; any
    // other command line runs the patcher as if it had none.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        const bool shown = std::fputs(BUILD_VERSION_LINE, stdout) >= 0;
        return shown && std::fflush(stdout) == 0 ? 0 : 1;
    }
    find_and_patch_image();
    return 0;
}
