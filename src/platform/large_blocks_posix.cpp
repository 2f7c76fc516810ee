// Large blocks on Linux: aligned to a large page and advised as such, so the kernel
// can back them with transparent huge pages.
#include "platform/large_blocks.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

void* platform_allocate_large(std::size_t bytes) {
    if (bytes > SIZE_MAX - LARGE_PAGE_SIZE) return nullptr;
    const std::size_t rounded = (bytes + LARGE_PAGE_SIZE - 1) & ~(LARGE_PAGE_SIZE - 1);
    void* block = std::aligned_alloc(LARGE_PAGE_SIZE, rounded);
    // Only advice: a kernel without huge pages keeps small ones.
    if (block != nullptr) madvise(block, rounded, MADV_HUGEPAGE);
    return block;
}
