// Applies one patch file to one source file, writing the output file.
#pragma once

#include <cstdint>

// Chunk of patch bytes handed to the decoder, and size of a source block.
inline constexpr std::uint32_t PATCH_CHUNK_SIZE = 16384;
inline constexpr std::uint32_t SOURCE_BLOCK_SIZE = 16384;

// Returns 0 when every window was decoded, verified and written and the output
// closed without error; DECODE_CHECKSUM_MISMATCH when a window fails its checksum;
// another nonzero code for any other failure (the decoder's codes pass through
// unchanged). The output file may be left behind on failure: the caller deletes it.
// When `show_progress` is nonzero, prints "Progression: N %\r" as the output grows,
// from progress_start to progress_end against `expected_total` bytes.
// When `failure_message` is not null it receives a static English text describing
// a failure (the decoder's message, or the driver's own).
int apply_patch(std::uint8_t show_progress, int progress_start, int progress_end,
                std::uint32_t expected_total, const char* source_path, const char* output_path,
                const char* patch_path, const char** failure_message = nullptr);
