// An 8 MiB window is copied into, checksummed and written for every window of the
// patch; large pages save most of the address translation misses of those sweeps.
#include "vcdiff/window_memory.h"

#include <limits>

#include "platform/large_blocks.h"
#include "vcdiff/decoder.h"

void* allocate_window_memory(void* opaque, u64 count, u64 element_size) {
    if (element_size != 0 && count > std::numeric_limits<u64>::max() / element_size) return nullptr;
    const u64 bytes = count * element_size;
    if (bytes < LARGE_PAGE_SIZE) return default_allocate(opaque, count, element_size);
    if (bytes > std::numeric_limits<std::size_t>::max()) return nullptr;
    return platform_allocate_large(static_cast<std::size_t>(bytes));
}
