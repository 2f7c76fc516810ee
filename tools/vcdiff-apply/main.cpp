// vcdiff-apply SOURCE PATCH OUTPUT: applies a patch exactly as the patcher does,
// without progress, for scripts and tests. Exit 0 on success; 1 on failure, with
// OUTPUT removed and the last line of stderr "vcdiff-apply: NAME (CODE): MESSAGE";
// 2 for a wrong command line.
#include <cstdio>

#include "platform/platform.h"
#include "vcdiff/apply_patch.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: vcdiff-apply SOURCE PATCH OUTPUT\n");
        return 2;
    }
    const char* message = nullptr;
    const int code = apply_patch(0, 0, 100, 0, argv[1], argv[3], argv[2], &message);
    if (code == 0) return 0;
    platform_remove(argv[3]);
    const char* name = apply_patch_result_name(code);
    std::fprintf(stderr, "vcdiff-apply: %s (%d): %s\n", name != nullptr ? name : "UNKNOWN", code,
                 message != nullptr ? message : "failure");
    return 1;
}
