#include "app/patch_run.h"

int main() {
    run_patch_program();
    return 0;
}
