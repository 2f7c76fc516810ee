// File header, window header and integer limits.
#include <gtest/gtest.h>

#include "decoder_test_patches.h"

using namespace decoder_test;

namespace {

constexpr u64 U64_MAX = ~u64{0};
const Bytes TWO_POW_64{0x82, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00};

struct FailureCase {
    const char* name;
    Bytes patch;
    int code;
    const char* message;
};

void expect_failures(const std::vector<FailureCase>& cases, const Bytes* source = nullptr) {
    DecodeOptions options;
    options.source = source;
    for (const FailureCase& c : cases) {
        const DecodeRun run = decode(c.patch, options);
        EXPECT_EQ(run.result, c.code) << c.name;
        EXPECT_EQ(run.message, c.message) << c.name;
    }
}

Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

WindowSpec window(std::uint8_t indicator, u64 copy_length, u64 copy_offset, u64 target_length = 0) {
    WindowSpec w;
    w.indicator = indicator;
    w.copy_length = copy_length;
    w.copy_offset = copy_offset;
    w.target_length = target_length;
    return w;
}

// One window whose instruction section is `instructions` after an ADD of one byte.
Bytes instructions_patch(const Bytes& instructions, u64 target_length) {
    WindowSpec w = window(0, 0, 0, target_length);
    w.data = {7};
    w.instructions = concat({2}, instructions);
    return patch_bytes({w});
}

}  // namespace

TEST(DecoderFileHeader, EachFailureHasItsCode) {
    FileHeaderSpec app;
    app.indicator = VCD_APPHEADER;
    app.app_header_length = U64_MAX;
    expect_failures({
        {"magic", {0xD6, 0xC3, 0x44, 0x00}, DECODE_INVALID_INPUT, "not a VCDIFF input"},
        {"version", {0xD6, 0xC3, 0xC4, 0x01}, DECODE_INVALID_INPUT, "VCDIFF input version > 0 is not supported"},
        {"indicator", {0xD6, 0xC3, 0xC4, 0x00, 0x08}, DECODE_INVALID_INPUT, "unrecognized header indicator bits set"},
        {"djw", {0xD6, 0xC3, 0xC4, 0x00, 0x01, 1}, DECODE_INTERNAL,
         "unavailable secondary compressor: DJW Static Huffman"},
        {"lzma", {0xD6, 0xC3, 0xC4, 0x00, 0x01, 2}, DECODE_INTERNAL, "unavailable secondary compressor: LZMA"},
        {"fgk", {0xD6, 0xC3, 0xC4, 0x00, 0x01, 16}, DECODE_INTERNAL,
         "unavailable secondary compressor: FGK Adaptive Huffman"},
        {"unknown id", {0xD6, 0xC3, 0xC4, 0x00, 0x01, 3}, DECODE_INVALID_INPUT, "unknown secondary compressor ID"},
        {"table size 2", {0xD6, 0xC3, 0xC4, 0x00, 0x02, 2}, 12, "invalid code table size"},
        {"table", {0xD6, 0xC3, 0xC4, 0x00, 0x02, 3, 4, 3}, DECODE_UNIMPLEMENTED, "VCD_CODETABLE support was removed"},
        // Header integers: 2^64-1 is read (then refused as a size), 2^64 overflows.
        {"appheader 2^64-1", patch_bytes({}, app), DECODE_INVALID_INPUT, "exceptional appheader size"},
        {"appheader 2^64", concat({0xD6, 0xC3, 0xC4, 0x00, VCD_APPHEADER}, TWO_POW_64), DECODE_INVALID_INPUT,
         "overflow in decode_integer"},
    });
}

TEST(DecoderWindowHeader, EachFailureHasItsCode) {
    // Section lengths whose sum wraps past 2^64 and so agrees with the encoding length.
    Bytes wrapping = concat(patch_bytes({}), {0});
    append_integer(&wrapping, 14 + U64_MAX + 2);   // 14 header bytes, data, 2 instruction bytes
    wrapping.insert(wrapping.end(), {0, 0, 0x81, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 2, 0, 1, 2, 3});
    WindowSpec delta_bits = window(0, 0, 0);
    delta_bits.delta_indicator = 0x08;
    WindowSpec delta_secondary = window(0, 0, 0);
    delta_secondary.delta_indicator = VCD_INSTCOMP;
    expect_failures({
        {"indicator", patch_bytes({window(0x08, 0, 0)}), DECODE_INVALID_INPUT, "unrecognized window indicator bits set"},
        {"copy window offset", patch_bytes({window(VCD_SOURCE, 2, U64_MAX - 1)}), DECODE_INVALID_INPUT,
         "decoder copy window overflows a file offset"},
        {"target window bounds", patch_bytes({window(VCD_TARGET, 1, 0)}), DECODE_INVALID_INPUT,
         "VCD_TARGET window out of bounds"},
        {"target window wrap", patch_bytes({window(VCD_SOURCE, 2, 0, U64_MAX - 1)}), DECODE_INVALID_INPUT,
         "decoder target window overflows a usize_t"},
        {"64 MiB + 1", patch_bytes({window(0, 0, 0, 67108865)}), DECODE_INVALID_INPUT, "hard window size exceeded"},
        {"delta reserved bits", patch_bytes({delta_bits}), DECODE_INVALID_INPUT, "unrecognized delta indicator bits set"},
        {"delta secondary bit", patch_bytes({delta_secondary}), DECODE_INVALID_INPUT, "invalid delta indicator bits set"},
        {"both source and target", patch_bytes({window(VCD_SOURCE | VCD_TARGET, 0, 0)}), DECODE_UNIMPLEMENTED,
         "VCD_TARGET not implemented"},
        {"no source file", patch_bytes({window(VCD_SOURCE, 4, 0)}), DECODE_INVALID_INPUT, "source input required"},
        {"integer 2^64", concat(patch_bytes({}), concat({0}, TWO_POW_64)), DECODE_INVALID_INPUT,
         "overflow in decode_integer"},
        {"section lengths wrap", wrapping, DECODE_INTERNAL, "decoder section size overflow"},
    });
}

TEST(DecoderWindowHeader, ExactlySixtyFourMebibytesIsAccepted) {
    InstructionEncoder enc;
    encoder_start(&enc, 0);
    encode_run(&enc, 0x5A, u64{1} << 26);
    const DecodeRun run = decode(patch_bytes({window_from_encoder(&enc, 0)}));
    EXPECT_EQ(run.result, 0) << run.message;
    EXPECT_EQ(run.output.size(), u64{1} << 26);
}

TEST(DecoderWindowHeader, RedundantLengthCountsShortestFieldsOnly) {
    const Bytes source{'a', 'b', 'c', 'd'};
    InstructionEncoder enc;
    encoder_start(&enc, 4);
    encode_copy(&enc, 1, 3);
    WindowSpec padded = checked_window(&enc, source);
    // Non-shortest copy window and encoding length fields are not part of the sum...
    padded.copy_offset_pad = 2;
    padded.encoding_length_pad = 1;
    DecodeOptions options;
    options.source = &source;
    DecodeRun run = decode(patch_bytes({padded}), options);
    EXPECT_EQ(run.result, 0) << run.message;
    EXPECT_EQ(run.output, (Bytes{'b', 'c', 'd'}));
    // ...a non-shortest target length is, and so is a plain mismatch.
    WindowSpec wrong_length = padded;
    wrong_length.encoding_length = 100;
    padded.target_length_pad = 1;
    expect_failures({{"padded target length", patch_bytes({padded}), DECODE_INVALID_INPUT,
                      "incorrect encoding length (redundent)"},
                     {"mismatch", patch_bytes({wrong_length}), DECODE_INVALID_INPUT,
                      "incorrect encoding length (redundent)"}},
                    &source);
}

TEST(DecoderIntegers, InstructionIntegersTakeEveryU64AndNothingLarger) {
    // ADD (size follows) of 2^64-1 bytes is read, then refused by the window bound.
    Bytes max{1};
    append_integer(&max, U64_MAX);
    expect_failures({
        {"2^64-1", instructions_patch(max, 2), DECODE_INVALID_INPUT, "size too large"},
        {"2^64", instructions_patch(concat({1}, TWO_POW_64), 2), DECODE_INVALID_INPUT, "overflow in read_intger"},
        {"cut", instructions_patch({1, 0x81}, 2), DECODE_INVALID_INPUT, "end-of-input in read_integer"},
    });
    Bytes nine{2, 1};
    append_integer(&nine, 1, 8);   // a second ADD whose size has eight empty groups in front
    WindowSpec w = window(0, 0, 0, 2);
    w.data = {7, 8};
    w.instructions = nine;
    const DecodeRun run = decode(patch_bytes({w}));
    EXPECT_EQ(run.result, 0) << run.message;
    EXPECT_EQ(run.output, (Bytes{7, 8}));
}
