#include "app/patch_run.h"

#include <cstdio>

#include "app/messages.h"

void run_patch_program() {
    print_banner();
    print_press_key();
    std::getchar();
}
