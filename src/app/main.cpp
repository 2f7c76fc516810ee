#include "app/find_and_patch.h"

int main() {
    find_and_patch_image();
    return 0;
}
