// Code table, address cache, instruction bounds, source blocks and window completion.
#include <gtest/gtest.h>

#include <random>

#include "decoder_test_patches.h"

using namespace decoder_test;

namespace {

// The encoder's window, announcing `target_length` bytes, without a checksum.
WindowSpec unchecked(InstructionEncoder* enc, u64 target_length) {
    WindowSpec w = window_from_encoder(enc, enc->copy_window_length != 0 ? VCD_SOURCE : 0, enc->copy_window_length);
    w.target_length = target_length;
    return w;
}

}  // namespace

TEST(DecoderCodeTable, DefaultTableMatchesTheOpcodeRanges) {
    const CodeTableEntry* table = default_code_table();
    for (int op = 0; op < 256; ++op) {
        const OpcodeEntry e = default_opcode_entry(static_cast<std::uint8_t>(op));
        EXPECT_EQ(table[op].type1, e.type1) << op;
        EXPECT_EQ(table[op].size1, e.size1) << op;
        EXPECT_EQ(table[op].type2, e.type2) << op;
        EXPECT_EQ(table[op].size2, e.size2) << op;
    }
}

// Copies named through near and same slots decode to the writer's addresses only
// when both keep the cache the same way: near slots cycle, same slots keep the last
// address of their residue, and both are cleared at each window.
TEST(DecoderAddressCache, NearSlotsCycleSameSlotsKeepTheLastAddress) {
    InstructionEncoder first;
    encoder_start(&first, 0);
    ASSERT_TRUE(encode_add(&first, random_bytes(800, 1)));
    for (u64 address : {10u, 20u, 30u, 40u, 50u, 778u}) ASSERT_TRUE(encode_copy(&first, address, 4, COPY_MODE_SELF));
    ASSERT_TRUE(encode_copy(&first, 55, 4, COPY_MODE_NEAR0));        // slot 0 now holds 50
    ASSERT_TRUE(encode_copy(&first, 790, 4, COPY_MODE_NEAR0 + 1));   // slot 1 holds 778
    ASSERT_TRUE(encode_copy(&first, 778, 4, COPY_MODE_SAME0));       // slot 10 holds 778, not 10
    ASSERT_TRUE(encode_add(&first, {1}));
    ASSERT_TRUE(encode_copy(&first, 12, 6));                         // a paired opcode
    InstructionEncoder second;
    encoder_start(&second, 0);
    ASSERT_TRUE(encode_add(&second, random_bytes(10, 2)));
    ASSERT_TRUE(encode_copy(&second, 2, 4, COPY_MODE_NEAR0));        // slot 0 cleared: value 2
    Bytes target, more;
    const Bytes patch = patch_bytes({checked_window(&first, {}, 0, &target), checked_window(&second, {}, 0, &more)});
    target.insert(target.end(), more.begin(), more.end());
    const DecodeRun run = decode(patch);
    EXPECT_EQ(run.result, 0) << run.message;
    EXPECT_EQ(run.output, target);
}

TEST(DecoderInstructions, TargetCopyRepeatsItsOwnOutput) {
    InstructionEncoder enc;
    encoder_start(&enc, 0);
    encode_add(&enc, {'a', 'b', 'c', 'd', 'e', 'f', 'g'});
    for (u64 distance : {1u, 3u, 7u}) {
        for (u64 size : {1u, 10u, 1000u}) ASSERT_TRUE(encode_copy(&enc, enc.position - distance, size, COPY_MODE_SELF));
    }
    Bytes target;
    const DecodeRun run = decode(patch_bytes({checked_window(&enc, {}, 0, &target)}));
    EXPECT_EQ(run.result, 0) << run.message;
    EXPECT_EQ(run.output, target);
    EXPECT_EQ(target.size(), 7u + 3 * 1011);
}

TEST(DecoderInstructions, BoundsOfDataAddressesAndSizes) {
    const Bytes source(10, 's');
    const struct {
        const char* name;
        u64 copy_window;
        void (*build)(InstructionEncoder*);
        u64 target_length;
        bool drop_data_byte;
        const char* message;
    } cases[] = {
        {"ADD short of data", 0, [](InstructionEncoder* e) { encode_add(e, {1, 2, 3}); }, 3, true, "data underflow"},
        {"RUN without its byte", 0, [](InstructionEncoder* e) { encode_run(e, 9, 4); }, 4, true, "data underflow"},
        {"nothing written yet", 0, [](InstructionEncoder* e) { encode_copy(e, 0, 1, COPY_MODE_SELF); }, 1, false,
         "address too large"},
        {"at the write position", 0,
         [](InstructionEncoder* e) { encode_add(e, {1}); encode_copy(e, 1, 1, COPY_MODE_SELF); }, 2, false,
         "address too large"},
        {"past the target length", 0,
         [](InstructionEncoder* e) { encode_add(e, {1, 2}); encode_copy(e, 1, 2, COPY_MODE_HERE); }, 3, false,
         "size too large"},
        {"ADD past the target length", 0, [](InstructionEncoder* e) { encode_add(e, {1, 2, 3}); }, 2, false,
         "size too large"},
        {"size near 2^64", 0, [](InstructionEncoder* e) { encode_add(e, {1}); encode_copy(e, 0, ~u64{0}); }, 2,
         false, "size too large"},
        {"source copy into the target", 4, [](InstructionEncoder* e) { encode_copy(e, 2, 4, COPY_MODE_SELF); }, 4,
         false, "size too large"},
    };
    DecodeOptions options;
    options.source = &source;
    for (const auto& c : cases) {
        InstructionEncoder enc;
        encoder_start(&enc, c.copy_window);
        c.build(&enc);
        WindowSpec w = unchecked(&enc, c.target_length);
        if (c.drop_data_byte) w.data.pop_back();
        const DecodeRun run = decode(patch_bytes({w}), options);
        EXPECT_EQ(run.result, DECODE_INVALID_INPUT) << c.name;
        EXPECT_EQ(run.message, c.message) << c.name;
    }
}

// Block 1 of this source is short (3616 bytes); block 0 is loaded before the start.
TEST(DecoderSourceBlocks, BoundariesShortLastBlockAndCurrentBlock) {
    const Bytes source = random_bytes(20000, 3);
    DecodeOptions options;
    options.source = &source;
    InstructionEncoder enc;
    encoder_start(&enc, 20000);
    encode_copy(&enc, 16000, 4000);   // across the boundary, to the exact end
    encode_copy(&enc, 100, 10);       // back to block 0
    encode_copy(&enc, 101, 5);        // block 0 is current: no request
    Bytes target;
    const DecodeRun run = decode(patch_bytes({checked_window(&enc, source, 0, &target)}), options);
    EXPECT_EQ(run.result, 0) << run.message;
    EXPECT_EQ(run.output, target);
    EXPECT_EQ(run.requests, (std::vector<u64>{1, 0}));

    encoder_start(&enc, 101);
    encode_copy(&enc, 0, 101);   // one byte past the end
    WindowSpec past_end = unchecked(&enc, 101);
    past_end.copy_offset = 19900;
    const DecodeRun past = decode(patch_bytes({past_end}), options);
    EXPECT_EQ(past.result, DECODE_INVALID_INPUT);
    EXPECT_EQ(past.message, "source file too short");
    EXPECT_TRUE(past.output.empty());
}

TEST(DecoderWindowCompletion, ChecksRunInTheirOrder) {
    const Bytes abc{'a', 'b', 'c'};
    const std::uint32_t good = reference_adler32(abc);
    const struct {
        Bytes add;
        std::uint8_t extra_data, extra_address;
        std::uint32_t checksum;
        int code;
        const char* message;
    } cases[] = {
        {{'a', 'b'}, 1, 1, good + 1, DECODE_INVALID_INPUT, "wrong window length"},
        {abc, 1, 1, good, DECODE_INVALID_INPUT, "extra data section"},
        {abc, 0, 1, good + 1, DECODE_INVALID_INPUT, "extra address section"},
        {abc, 0, 0, good + 1, DECODE_CHECKSUM_MISMATCH, "target window checksum mismatch"},
        {abc, 0, 0, good, 0, nullptr},
    };
    for (const auto& c : cases) {
        InstructionEncoder enc;
        encoder_start(&enc, 0);
        encode_add(&enc, c.add);
        WindowSpec w = unchecked(&enc, 3);
        w.data.insert(w.data.end(), c.extra_data, 'z');
        w.addresses.insert(w.addresses.end(), c.extra_address, 0);
        w.indicator = VCD_CHECKSUM;
        w.checksum = c.checksum;
        const DecodeRun run = decode(patch_bytes({w}));
        EXPECT_EQ(run.result, c.code) << c.code;
        if (c.message != nullptr) {
            EXPECT_EQ(run.message, c.message);
        }
        EXPECT_EQ(run.output, c.code == 0 ? abc : Bytes{}) << c.code;
    }
}

TEST(DecoderWindowCompletion, EachWindowsChecksumCoversThatWindowOnly) {
    InstructionEncoder first;
    encoder_start(&first, 0);
    encode_add(&first, {1, 2, 3});
    InstructionEncoder second;
    encoder_start(&second, 0);
    encode_run(&second, 7, 4);
    WindowSpec wrong = checked_window(&second);
    wrong.checksum = reference_adler32(Bytes{1, 2, 3, 7, 7, 7, 7});
    const DecodeRun run = decode(patch_bytes({checked_window(&first), wrong}));
    EXPECT_EQ(run.result, DECODE_CHECKSUM_MISMATCH);
    EXPECT_EQ(run.output, (Bytes{1, 2, 3}));   // the first window was already handed over
}

