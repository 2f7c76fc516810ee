#include <gtest/gtest.h>

#include <cstring>

#include "e2e_support.h"

// Usage: TEST [--patcher=PATH [--wine=COMMAND]] [GoogleTest options]
// Without --patcher the native program of this build is run.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    patcher_setup().patcher = ORV_NATIVE_PATCHER;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--patcher=", 10) == 0) patcher_setup().patcher = argv[i] + 10;
        if (std::strncmp(argv[i], "--wine=", 7) == 0) patcher_setup().wine = argv[i] + 7;
    }
    return RUN_ALL_TESTS();
}
