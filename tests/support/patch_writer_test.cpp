// The patch writer must be right before any decoder test can trust it: these pin
// its byte layout, its address cache and its references to known values.
#include "patch_writer.h"

#include <gtest/gtest.h>

#include "vcdiff/decode_types.h"

namespace {

Bytes encoded(std::uint64_t value, unsigned pad = 0) {
    Bytes out;
    append_integer(&out, value, pad);
    return out;
}

TEST(PatchWriterIntegers, EncodingsAndSizes) {
    EXPECT_EQ(encoded(0), Bytes({0x00}));
    EXPECT_EQ(encoded(127), Bytes({0x7F}));
    EXPECT_EQ(encoded(128), Bytes({0x81, 0x00}));
    EXPECT_EQ(encoded(16384), Bytes({0x81, 0x80, 0x00}));
    EXPECT_EQ(encoded(~0ull), Bytes({0x81, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}));
    EXPECT_EQ(encoded(5, 2), Bytes({0x80, 0x80, 0x05}));
    const std::uint64_t limits[] = {0x7F, 0x3FFF, 0x1FFFFF, 0xFFFFFFF, (1ull << 35) - 1, (1ull << 42) - 1,
                                    (1ull << 49) - 1, (1ull << 56) - 1, (1ull << 63) - 1};
    for (unsigned i = 0; i < 9; ++i) {
        EXPECT_EQ(shortest_integer_size(limits[i]), i + 1);
        EXPECT_EQ(shortest_integer_size(limits[i] + 1), i + 2);
        EXPECT_EQ(encoded(limits[i]).size(), i + 1);
    }
}

TEST(PatchWriterCodeTable, OpcodeRanges) {
    auto same = [](OpcodeEntry e, OpcodeEntry f) {
        return e.type1 == f.type1 && e.size1 == f.size1 && e.type2 == f.type2 && e.size2 == f.size2;
    };
    EXPECT_TRUE(same(default_opcode_entry(0), {RUN, 0, NOOP, 0}));
    EXPECT_TRUE(same(default_opcode_entry(18), {ADD, 17, NOOP, 0}));
    EXPECT_TRUE(same(default_opcode_entry(19), {COPY, 0, NOOP, 0}));
    EXPECT_TRUE(same(default_opcode_entry(34), {COPY, 18, NOOP, 0}));
    EXPECT_TRUE(same(default_opcode_entry(162), {COPY + 8, 18, NOOP, 0}));
    EXPECT_TRUE(same(default_opcode_entry(163), {ADD, 1, COPY, 4}));
    EXPECT_TRUE(same(default_opcode_entry(234), {ADD, 4, COPY + 5, 6}));
    EXPECT_TRUE(same(default_opcode_entry(235), {ADD, 1, COPY + 6, 4}));
    EXPECT_TRUE(same(default_opcode_entry(246), {ADD, 4, COPY + 8, 4}));
    EXPECT_TRUE(same(default_opcode_entry(255), {COPY + 8, 4, ADD, 1}));
}

TEST(PatchWriterEncoder, AddressModesAndCache) {
    InstructionEncoder enc;
    encoder_start(&enc, 100);   // source segment 0..99, target from 100
    ASSERT_TRUE(encode_add(&enc, Bytes(10, 0x41), SIZE_FOLLOWS));
    // SELF: the address itself; HERE: distance back from 110.
    ASSERT_TRUE(encode_copy(&enc, 10, 20, COPY_MODE_SELF, SIZE_FOLLOWS));
    ASSERT_TRUE(encode_copy(&enc, 105, 5, COPY_MODE_HERE, SIZE_IN_OPCODE));
    // near slot 0 holds 10, slot 1 holds 105.
    ASSERT_TRUE(encode_copy(&enc, 13, 4, COPY_MODE_NEAR0, SIZE_IN_OPCODE));
    ASSERT_TRUE(encode_copy(&enc, 106, 4, COPY_MODE_NEAR0 + 1, SIZE_IN_OPCODE));
    // same mode: 105 sits in slot 105 of the first 256.
    ASSERT_TRUE(encode_copy(&enc, 105, 6, COPY_MODE_SAME0, SIZE_IN_OPCODE));
    EXPECT_EQ(enc.addresses, Bytes({10, 25, 3, 1, 105}));
    EXPECT_EQ(enc.instructions, Bytes({1, 10, 19, 20, 35 + 2, 51 + 1, 67 + 1, 115 + 3}));
    EXPECT_EQ(enc.data, Bytes(10, 0x41));
    EXPECT_EQ(encoder_target_size(enc), 10u + 20 + 5 + 4 + 4 + 6);

    // Refusals write nothing: address ahead of here, below a near slot, not in a same slot.
    const Bytes before = enc.addresses;
    EXPECT_FALSE(encode_copy(&enc, 1000, 4, COPY_MODE_HERE));
    EXPECT_FALSE(encode_copy(&enc, 0, 4, COPY_MODE_NEAR0 + 1));
    EXPECT_FALSE(encode_copy(&enc, 106 + 256, 4, COPY_MODE_SAME0 + 1));
    EXPECT_FALSE(encode_copy(&enc, 0, 19, COPY_MODE_SELF, SIZE_IN_OPCODE));
    EXPECT_EQ(enc.addresses, before);

    // Five addresses cycle through the four near slots.
    encoder_start(&enc, 0);
    ASSERT_TRUE(encode_add(&enc, Bytes(60, 1)));
    for (std::uint64_t a : {10u, 20u, 30u, 40u, 50u}) ASSERT_TRUE(encode_copy(&enc, a, 4, COPY_MODE_SELF));
    EXPECT_EQ(enc.cache.near_slots, (std::array<std::uint64_t, 4>{50, 20, 30, 40}));
    EXPECT_EQ(enc.cache.next_near_slot, 1u);
    EXPECT_EQ(enc.cache.same_slots[50], 50u);
}

TEST(PatchWriterEncoder, BestModePairsAndPicksShortAddresses) {
    InstructionEncoder enc;
    encoder_start(&enc, 0);
    ASSERT_TRUE(encode_add(&enc, {1, 2}));          // pending ADD 2
    ASSERT_TRUE(encode_copy(&enc, 0, 5));           // HERE 2 and SELF 0 both take one byte: SELF
    ASSERT_TRUE(encode_copy(&enc, 1, 4));           // pending COPY 4
    ASSERT_TRUE(encode_add(&enc, {9}));             // pairs with it
    ASSERT_TRUE(encode_run(&enc, 7, 3));
    ASSERT_TRUE(encode_add(&enc, {3, 4, 5}));       // pending, flushed by finish
    encoder_finish(&enc);
    EXPECT_EQ(enc.instructions, Bytes({163 + 3 + 1, 247, 0, 3, 4}));
    EXPECT_EQ(enc.addresses, Bytes({0, 1}));
    EXPECT_EQ(enc.data, Bytes({1, 2, 9, 7, 3, 4, 5}));
    const auto target = reference_window_target({}, 0, 0, enc.ops);
    ASSERT_TRUE(target.has_value());
    EXPECT_EQ(*target, Bytes({1, 2, 1, 2, 1, 2, 1, 2, 1, 2, 1, 9, 7, 7, 7, 3, 4, 5}));
}

TEST(PatchWriterEncoder, ExplicitOpcodes) {
    InstructionEncoder enc;
    encoder_start(&enc, 8);
    HalfArgs add;
    add.bytes = {0xAA, 0xBB};
    HalfArgs copy;
    copy.address = 2;
    copy.size = 6;
    ASSERT_TRUE(encode_opcode(&enc, 163 + 3 + 2, add, copy));   // ADD 2 + COPY SELF 6
    HalfArgs run;
    run.bytes = {0x55};
    run.size = 4;
    run.size_pad = 1;
    ASSERT_TRUE(encode_opcode(&enc, 0, run));
    HalfArgs wrong_size = add;
    EXPECT_FALSE(encode_opcode(&enc, 2, wrong_size));            // opcode 2 is ADD 1
    EXPECT_EQ(enc.instructions, Bytes({168, 0, 0x80, 4}));
    EXPECT_EQ(enc.addresses, Bytes({2}));
    const Bytes source = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    const auto target = reference_window_target(source, 1, 8, enc.ops);
    ASSERT_TRUE(target.has_value());
    EXPECT_EQ(*target, Bytes({0xAA, 0xBB, 3, 4, 5, 6, 7, 8, 0x55, 0x55, 0x55, 0x55}));
}

TEST(PatchWriterWindows, LayoutLengthsAndChecksum) {
    WindowSpec w;
    w.indicator = VCD_SOURCE;
    w.copy_length = 200;
    w.copy_offset = 3;
    w.target_length = 2;
    w.data = {0x61, 0x62};
    w.instructions = {3};
    set_checksum(&w, {0x61, 0x62});
    Bytes out;
    PatchSink sink = sink_to_bytes(&out);
    write_window(&sink, w);
    EXPECT_EQ(out, Bytes({0x05, 0x81, 0x48, 0x03, 12, 2, 0, 2, 1, 0, 0x01, 0x26, 0x00, 0xC4, 0x61, 0x62, 3}));
    EXPECT_EQ(sink.written, out.size());

    // A lying encoding length, and padded fields counted as written.
    w.encoding_length = 99;
    w.target_length_pad = 1;
    EXPECT_EQ(true_encoding_length(w), 13u);
    out.clear();
    write_window(&sink, w);
    EXPECT_EQ(out[4], 99);

    FileHeaderSpec h;
    h.indicator = VCD_APPHEADER | VCD_DECOMPRESS;
    h.secondary_id = 16;
    h.app_header = {'x', 'y'};
    h.app_header_length_pad = 1;
    out.clear();
    write_file_header(&sink, h);
    EXPECT_EQ(out, Bytes({0xD6, 0xC3, 0xC4, 0x00, 0x05, 16, 0x80, 2, 'x', 'y'}));
}

TEST(PatchWriterSink, FileReceivesSameBytes) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    PatchSink sink = sink_to_file(file);
    write_file_header(&sink, FileHeaderSpec{});
    EXPECT_FALSE(sink.failed);
    EXPECT_EQ(std::ftell(file), 5);
    std::fclose(file);
}

TEST(PatchWriterReferences, TargetAndAdler) {
    const Bytes text = {'W', 'i', 'k', 'i', 'p', 'e', 'd', 'i', 'a'};
    EXPECT_EQ(reference_adler32(text), 0x11E60398u);
    EXPECT_EQ(reference_adler32(nullptr, 0), 1u);
    // Overlapping target copy repeats; reads outside the source or ahead are refused.
    const std::vector<PatchOp> ops = {{ADD, 1, 0, {'z'}}, {COPY, 5, 4, {}}};
    EXPECT_EQ(reference_window_target({1, 2, 3, 4}, 0, 4, ops), Bytes(6, 'z'));
    EXPECT_FALSE(reference_window_target({1, 2, 3}, 0, 4, {{COPY, 4, 0, {}}}).has_value());
    EXPECT_FALSE(reference_window_target({}, 0, 0, {{COPY, 1, 0, {}}}).has_value());
}

}  // namespace
