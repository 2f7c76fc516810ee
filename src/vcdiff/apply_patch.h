// Applies one patch file to one source file, writing the output file.
#pragma once

#include <cstdint>
#include <cstdio>

// Chunk of patch bytes handed to the decoder, and size of a source block.
inline constexpr std::uint32_t PATCH_CHUNK_SIZE = 16384;
inline constexpr std::uint32_t SOURCE_BLOCK_SIZE = 16384;

// The driver's own failures, apart from the decoder's codes (-17703 to -17715) and 12.
inline constexpr int APPLY_PATCH_OPEN_FAILED = -17801;    // "cannot open patch file"
inline constexpr int APPLY_OUTPUT_OPEN_FAILED = -17802;   // "cannot open output file"
inline constexpr int APPLY_PATCH_SIZE_FAILED = -17803;    // "cannot determine patch file length"
inline constexpr int APPLY_PATCH_READ_FAILED = -17804;    // "patch file read failed or ended early"
inline constexpr int APPLY_SOURCE_READ_FAILED = -17805;   // "cannot read source file"
inline constexpr int APPLY_OUTPUT_WRITE_FAILED = -17806;  // "cannot write output file"
inline constexpr int APPLY_PATCH_NO_WINDOW = -17807;      // "patch holds no window"
inline constexpr int APPLY_OUTPUT_FLUSH_FAILED = -17808;  // "cannot flush output file to disk"

// Returns 0 when the patch held at least one window and every window was decoded,
// verified and written, and the output's data was flushed to the disk and the file
// closed, each without error; DECODE_CHECKSUM_MISMATCH when a window fails its
// checksum; another nonzero code for any other failure (the decoder's codes pass
// through unchanged). The output is created, or truncated. It may be left behind on
// failure: the caller deletes it.
// When `show_progress` is nonzero, prints "Progression: N %\r" as the output grows,
// from progress_start to progress_end against `expected_total` bytes.
// When `failure_message` is not null it receives a static English text describing
// a failure (the decoder's message, or the driver's own).
int apply_patch(std::uint8_t show_progress, int progress_start, int progress_end,
                std::uint32_t expected_total, const char* source_path, const char* output_path,
                const char* patch_path, const char** failure_message = nullptr);

// The same application into `output`, a stream open for writing that the caller owns
// and ends with finish_patch_output: the windows are written to it, but it is neither
// flushed nor closed here. 0 when every window was decoded, verified and handed to it.
int apply_patch_into(std::uint8_t show_progress, int progress_start, int progress_end,
                     std::uint32_t expected_total, const char* source_path, std::FILE* output,
                     const char* patch_path, const char** failure_message = nullptr);

// Ends an output that apply_patch_into wrote: after a success (`result` 0) its data is
// flushed to the disk first; it is closed in every case. Returns `result`, or
// APPLY_OUTPUT_FLUSH_FAILED or APPLY_OUTPUT_WRITE_FAILED when a success could not be
// flushed or closed.
int finish_patch_output(std::FILE* output, int result, const char** failure_message = nullptr);

// "APPLY_PATCH_OPEN_FAILED", ... for the driver's codes, decode_result_name for the
// decoder's; null for a code neither knows.
const char* apply_patch_result_name(int code);
