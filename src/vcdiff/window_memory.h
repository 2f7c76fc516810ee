// The patch driver's allocation hook for the decoder.
#pragma once

#include "vcdiff/decode_types.h"

// Like the default allocation, but window buffers of a large page or more come from
// platform_allocate_large. Released by the default release (the C heap's free).
void* allocate_window_memory(void* opaque, u64 count, u64 element_size);
