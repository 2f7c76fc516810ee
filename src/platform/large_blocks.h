// Memory for buffers of megabytes that are swept end to end again and again.
#pragma once

#include <cstddef>

// Size of the large pages the system may back such a block with.
inline constexpr std::size_t LARGE_PAGE_SIZE = std::size_t{2} << 20;

// A block of at least `bytes` bytes that std::free releases, which the system may back
// with large pages (fewer address translation misses); null when there is no memory.
void* platform_allocate_large(std::size_t bytes);
