// One fuzz input through the decoder, shared by the libFuzzer target and the
// corpus replay test.
//
// Input layout: 7 control bytes (17 with a code table shape), then the patch. Bytes 5
// and 6 at 0 make the program's kind of caller: block requests answered, block 0
// loaded beforehand, a configuration it accepts.
//   0-1  source size (little endian, below 40000)
//   2    seed of the source bytes
//   3    source block size 2^(4 + b % 11), bit 0x80: checksums not verified
//   4    chunking: 0 feeds the patch whole, else chunk lengths vary from 1 to 4 * b
//   5    the caller
//          bits 0-1  source blocks: 0 loaded on DECODE_GETSRCBLK, 1 loaded by a getblk
//                    callback, 2 by a callback that cannot go back, 3 no source at all
//          bit 2     block 0 is not loaded before the first request
//          bits 3-5  k: the k-th allocation fails (0: none does)
//          bit 6     buffers go back through the default release (config.release null)
//          bit 7     unused
//   6    the set-up
//          bits 0-1  the block size of byte 3 (0), one less (1), 0 (2) or 2^63 + 1 (3);
//                    attach_source rounds the last three up to a power of two
//          bits 2-3  sprevsz: default, 2^16, 1000 (refused), 1
//          bits 4-6  secondary compression flags, a row of a table (all but row 0 refused)
//          bit 7     10 more control bytes: a code table shape (each byte % 32), built
//                    before decoding
// The stream allocates through a function that refuses more than 80 MiB at once,
// so a patch that merely announces a huge length ends as "out of memory".
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

inline constexpr std::size_t FUZZ_CONTROL_BYTES = 7;

// What a replay of a known-good input checks beside the verdict.
struct FuzzDecoded {
    bool complete = false;              // every window decoded and the input ended cleanly
    std::vector<std::uint8_t> output;   // the windows' bytes, in order
};

// 0 when the decoder kept every promise it makes to its caller, nonzero when it
// broke one (a set-up refused or accepted wrongly, a window of the wrong length, a
// wrong checksum accepted or an Adler-32 kernel that disagrees, a result of 0 or one
// without a name, a failure without a message, a request for the block it already
// holds, a block request with a callback or without a source, a code table built past
// its end). Crashes are left to the sanitizers.
int run_decoder_fuzz_input(const std::uint8_t* data, std::size_t size, FuzzDecoded* decoded = nullptr);
