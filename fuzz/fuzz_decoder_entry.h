// One fuzz input through the decoder, shared by the libFuzzer target and the
// corpus replay test.
//
// Input layout: 5 control bytes, then the patch.
//   0-1  source size (little endian, below 40000)
//   2    seed of the source bytes
//   3    source block size 2^(4 + b % 11), bit 0x80: checksums not verified
//   4    chunking: 0 feeds the patch whole, else chunk lengths vary from 1 to 4 * b
// The stream allocates through a function that refuses more than 80 MiB at once,
// so a patch that merely announces a huge length ends as "out of memory".
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

inline constexpr std::size_t FUZZ_CONTROL_BYTES = 5;

// What a replay of a known-good input checks beside the verdict.
struct FuzzDecoded {
    bool complete = false;              // every window decoded and the input ended cleanly
    std::vector<std::uint8_t> output;   // the windows' bytes, in order
};

// 0 when the decoder kept every promise it makes to its caller, nonzero when it
// broke one (a window of the wrong length, a wrong checksum accepted, a result
// of 0, a failure without a message, a request for the block it already holds).
// Crashes are left to the sanitizers.
int run_decoder_fuzz_input(const std::uint8_t* data, std::size_t size, FuzzDecoded* decoded = nullptr);
