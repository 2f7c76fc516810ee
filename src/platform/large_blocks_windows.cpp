// Large blocks on Windows: the C heap's (its aligned blocks need a free of their own).
#include "platform/large_blocks.h"

#include <cstdlib>

void* platform_allocate_large(std::size_t bytes) { return std::malloc(bytes); }
