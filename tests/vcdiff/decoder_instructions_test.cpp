// Code table, address cache, instruction parsing and execution within the target.
#include <gtest/gtest.h>

#include <limits>
#include <random>

#include "decoder_test_patches.h"
#include "vcdiff/decoder.h"
#include "vcdiff/decoder_internal.h"

using namespace decoder_test;

namespace {

constexpr u64 U64_MAX = std::numeric_limits<u64>::max();

CodeTableEntry expected_entry(int op) {
    auto copy = [](int mode) { return static_cast<std::uint8_t>(COPY + mode); };
    auto u8 = [](int v) { return static_cast<std::uint8_t>(v); };
    if (op == 0) return {RUN, 0, NOOP, 0};
    if (op == 1) return {ADD, 0, NOOP, 0};
    if (op <= 18) return {ADD, u8(op - 1), NOOP, 0};
    if (op <= 162) {
        const int k = (op - 19) % 16;
        return {copy((op - 19) / 16), u8(k == 0 ? 0 : k + 3), NOOP, 0};
    }
    if (op <= 234) {
        const int k = op - 163;
        return {ADD, u8((k % 12) / 3 + 1), copy(k / 12), u8(k % 3 + 4)};
    }
    if (op <= 246) {
        const int k = op - 235;
        return {ADD, u8(k % 4 + 1), copy(6 + k / 4), 4};
    }
    return {copy(op - 247), 4, ADD, 1};
}

// Output of a byte-by-byte forward copy inside `out`.
void reference_copy(Bytes& out, std::size_t from, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        out.push_back(out[from + i]);
    }
}

DecodeRun decode_one(const Window& window, const Bytes* source = nullptr) {
    DecodeOptions options;
    options.source = source;
    return decode(make_patch({window}), options);
}

Window unchecked(const Program& program, u64 target_length) {
    Window window;
    window.target_length = target_length;
    window.program = program;
    return window;
}

// A configured stream with its address cache, for direct calls.
struct CacheStream {
    DecodeStream stream{};
    CacheStream() {
        configure_stream(&stream, nullptr);
        stream.address_cache.near_count = 4;
        stream.address_cache.same_count = 3;
        allocate_address_cache(&stream);
        reset_address_cache(&stream);
    }
    ~CacheStream() { release_stream(&stream); }
};

}  // namespace

TEST(DecoderCodeTable, DefaultTableMatchesTheOpcodeTable) {
    const CodeTableEntry* table = default_code_table();
    ASSERT_EQ(table, default_code_table());   // one shared table
    for (int op = 0; op < 256; ++op) {
        const CodeTableEntry e = expected_entry(op);
        EXPECT_EQ(table[op].type1, e.type1) << op;
        EXPECT_EQ(table[op].size1, e.size1) << op;
        EXPECT_EQ(table[op].type2, e.type2) << op;
        EXPECT_EQ(table[op].size2, e.size2) << op;
    }
}

TEST(DecoderAddressCache, NearSlotsCycleAndSameSlotsKeepTheLastAddress) {
    CacheStream s;
    AddressCache& cache = s.stream.address_cache;
    for (u64 address : {10u, 20u, 30u, 40u, 50u}) {
        update_address_cache(&cache, address);
    }
    EXPECT_EQ(cache.near_slots[0], 50u);
    EXPECT_EQ(cache.near_slots[1], 20u);
    EXPECT_EQ(cache.near_slots[2], 30u);
    EXPECT_EQ(cache.near_slots[3], 40u);
    EXPECT_EQ(cache.next_near_slot, 1u);

    // Same modes 6..8 index 256 slots each by address mod 768.
    update_address_cache(&cache, 1000);   // 1000 mod 768 = 232, mode 6 byte 232
    update_address_cache(&cache, 1768);   // same slot, replaces it
    update_address_cache(&cache, 700);    // 700 = mode 8 (512..767) byte 188
    const Bytes bytes{232, 188, 5};
    const std::uint8_t* cursor = bytes.data();
    u64 address = 0;
    ASSERT_EQ(decode_address(&s.stream, 0, 6, &cursor, bytes.data() + 3, &address), 0);
    EXPECT_EQ(address, 1768u);
    ASSERT_EQ(decode_address(&s.stream, 0, 8, &cursor, bytes.data() + 3, &address), 0);
    EXPECT_EQ(address, 700u);
    ASSERT_EQ(decode_address(&s.stream, 0, 7, &cursor, bytes.data() + 3, &address), 0);
    EXPECT_EQ(address, 0u);   // slot never written this window
    EXPECT_EQ(cursor, bytes.data() + 3);
    // Same-mode results go back into the cache too: 1000, 1768 and 700 filled slots 1 to 3,
    // then the decoded 1768, 700 and 0 went to slots 0 to 2.
    EXPECT_EQ(cache.near_slots[0], 1768u);
    EXPECT_EQ(cache.near_slots[1], 700u);
    EXPECT_EQ(cache.near_slots[2], 0u);
    EXPECT_EQ(cache.near_slots[3], 700u);
    EXPECT_EQ(cache.next_near_slot, 3u);

    EXPECT_EQ(decode_address(&s.stream, 0, 6, &cursor, cursor, &address), DECODE_INVALID_INPUT);
    EXPECT_STREQ(s.stream.message, "address underflow");
}

TEST(DecoderAddressCache, IsResetAtEveryWindowAndUsedByCopies) {
    // Window 1 puts 1 (VCD_SELF) in near slot 0; window 2 must find it zeroed again.
    Program first;
    first.add({'x', 'y'}).copy_self(2, 0);                   // "xyxy"
    Program second;
    second.add({'p', 'q', 'r'}).copy(2, 2, 1);               // near slot 0 (0 after reset) + 1
    const Bytes patch = make_patch({checked_window(first, {'x', 'y', 'x', 'y'}),
                                    checked_window(second, {'p', 'q', 'r', 'q', 'r'})});
    const DecodeRun run = decode(patch);
    EXPECT_EQ(run.result, 0) << run.message;
    EXPECT_EQ(run.output, (Bytes{'x', 'y', 'x', 'y', 'p', 'q', 'r', 'q', 'r'}));
}

TEST(DecoderInstructions, RunRepeatsOneDataByte) {
    Program program;
    program.run(5, 0x41).run(0, 0x42).add({0x43});
    const DecodeRun run = decode_one(checked_window(program, {0x41, 0x41, 0x41, 0x41, 0x41, 0x43}));
    EXPECT_EQ(run.result, 0) << run.message;   // the empty RUN took its byte: no data left over
    EXPECT_EQ(run.output, (Bytes{0x41, 0x41, 0x41, 0x41, 0x41, 0x43}));
}

TEST(DecoderInstructions, AddAndRunNeedTheirDataBytes) {
    Program short_add;
    short_add.add({1, 2, 3});
    short_add.data.pop_back();
    DecodeRun run = decode_one(unchecked(short_add, 3));
    EXPECT_EQ(run.result, DECODE_INVALID_INPUT);
    EXPECT_EQ(run.message, "data underflow");

    Program run_without_byte;
    run_without_byte.run(4, 9);
    run_without_byte.data.clear();
    run = decode_one(unchecked(run_without_byte, 4));
    EXPECT_EQ(run.result, DECODE_INVALID_INPUT);
    EXPECT_EQ(run.message, "data underflow");
}

TEST(DecoderInstructions, TargetCopyRepeatsItsOwnOutput) {
    // VCD_HERE with value 0 is the write position itself: refused.
    Program at_here;
    at_here.add({'a'}).copy_here(1, 0);
    DecodeRun run = decode_one(unchecked(at_here, 2));
    EXPECT_EQ(run.result, DECODE_INVALID_INPUT);
    EXPECT_EQ(run.message, "address too large");

    for (u64 distance : {1u, 2u, 3u, 5u, 7u}) {
        for (u64 size : {1u, 2u, 9u, 10u, 64u, 1000u}) {
            Bytes expected{'a', 'b', 'c', 'd', 'e', 'f', 'g'};
            Program program;
            program.add(expected).copy_here(size, distance);
            reference_copy(expected, expected.size() - distance, size);
            run = decode_one(checked_window(program, expected));
            EXPECT_EQ(run.result, 0) << distance << " " << size << " " << run.message;
            EXPECT_EQ(run.output, expected) << distance << " " << size;
        }
    }
}

TEST(DecoderInstructions, RandomTargetCopiesMatchAByteByByteCopy) {
    std::mt19937_64 random(12345);
    for (int round = 0; round < 200; ++round) {
        Bytes expected;
        Program program;
        const int count = 1 + static_cast<int>(random() % 12);
        for (int i = 0; i < count; ++i) {
            const u64 kind = expected.empty() ? 0 : random() % 3;
            if (kind == 0) {
                Bytes bytes(1 + random() % 20);
                for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
                program.add(bytes);
                append(expected, bytes);
            } else if (kind == 1) {
                const u64 size = random() % 40;
                const auto byte = static_cast<std::uint8_t>(random());
                program.run(size, byte);
                expected.insert(expected.end(), size, byte);
            } else {
                const u64 from = random() % expected.size();
                const u64 size = random() % 300;
                program.copy_self(size, from);
                reference_copy(expected, from, size);
            }
        }
        const DecodeRun run = decode_one(checked_window(program, expected));
        ASSERT_EQ(run.result, 0) << run.message;
        ASSERT_EQ(run.output, expected) << round;
    }
}

TEST(DecoderInstructions, CopyAddressAndSizeBounds) {
    // Nothing written yet: every target COPY address is too large.
    Program first_copy;
    first_copy.copy_self(1, 0);
    DecodeRun run = decode_one(unchecked(first_copy, 1));
    EXPECT_EQ(run.result, DECODE_INVALID_INPUT);
    EXPECT_EQ(run.message, "address too large");

    // VCD_HERE further back than the start wraps to a huge address.
    Program too_far_back;
    too_far_back.add({1, 2}).copy_here(1, 3);
    run = decode_one(unchecked(too_far_back, 3));
    EXPECT_EQ(run.message, "address too large");

    // Past the announced target length.
    Program too_long;
    too_long.add({1, 2}).copy_here(2, 1);
    run = decode_one(unchecked(too_long, 3));
    EXPECT_EQ(run.result, DECODE_INVALID_INPUT);
    EXPECT_EQ(run.message, "size too large");

    Program add_too_long;
    add_too_long.add({1, 2, 3});
    run = decode_one(unchecked(add_too_long, 2));
    EXPECT_EQ(run.message, "size too large");

    // A size near 2^64 must not wrap past the bounds.
    Program huge;
    huge.add({1}).copy_here(U64_MAX, 1);
    run = decode_one(unchecked(huge, 2));
    EXPECT_EQ(run.result, DECODE_INVALID_INPUT);
    EXPECT_EQ(run.message, "size too large");
}

TEST(DecoderInstructions, SourceCopyMayNotRunIntoTheTarget) {
    const Bytes source{'s', 'o', 'u', 'r', 'c', 'e'};
    // Opcode 163: ADD 1 then COPY mode 0 size 4; the COPY's parse fails, nothing executes.
    Program pair;
    pair.instructions = {163};
    pair.data = {'x'};
    put_integer(pair.addresses, 2);   // copy window length 4: 2 + 4 > 4
    Window window = unchecked(pair, 5);
    window.indicator = VCD_SOURCE;
    window.copy_length = 4;
    DecodeStream stream;
    DecodeOptions options;
    options.source = &source;
    DecodeRun run = decode_with(stream, make_patch({window}), options);
    EXPECT_EQ(run.result, DECODE_INVALID_INPUT);
    EXPECT_EQ(run.message, "size too large");
    EXPECT_EQ(stream.output_avail, 0u);   // the ADD half did not run either
    EXPECT_EQ(stream.second_half.type, COPY);
    release_stream(&stream);

    Program wrapping;
    wrapping.copy_self(U64_MAX, 1);
    Window wrapping_window = unchecked(wrapping, 3);
    wrapping_window.indicator = VCD_SOURCE;
    wrapping_window.copy_length = 4;
    run = decode(make_patch({wrapping_window}), options);
    EXPECT_EQ(run.message, "size too large");
}

TEST(DecoderInstructions, CutOffSectionsAreRefused) {
    Program no_size;
    no_size.instructions = {1};   // ADD whose size should follow
    DecodeRun run = decode_one(unchecked(no_size, 1));
    EXPECT_EQ(run.result, DECODE_INVALID_INPUT);
    EXPECT_EQ(run.message, "end-of-input in read_integer");

    Program no_address;
    no_address.add({1}).copy_self(1, 0);
    no_address.addresses.clear();
    run = decode_one(unchecked(no_address, 2));
    EXPECT_EQ(run.message, "end-of-input in read_integer");

    Program no_same_byte;
    no_same_byte.add({1}).copy(6, 1, 0);
    no_same_byte.addresses.clear();
    run = decode_one(unchecked(no_same_byte, 2));
    EXPECT_EQ(run.message, "address underflow");

    DecodeStream stream{};
    configure_stream(&stream, nullptr);
    EXPECT_EQ(decode_instruction(&stream), DECODE_INVALID_INPUT);
    EXPECT_STREQ(stream.message, "instruction underflow");
}

TEST(DecoderInstructions, EveryTypeChecksOutputSpace) {
    const Bytes source(64, 's');
    const Bytes data{1, 2, 3, 4};
    Bytes output(16, 0);
    for (std::uint8_t type : {ADD, RUN, std::uint8_t(COPY), std::uint8_t(COPY + 1)}) {
        DecodeStream stream{};
        configure_stream(&stream, nullptr);
        DecodeSource record{};
        record.block_size = 64;
        record.current_block = source.data();
        record.current_block_length = 64;
        attach_source(&stream, &record);
        stream.output_next = output.data();
        stream.output_base = output.data();
        stream.output_space = output.size();
        stream.output_avail = 14;
        stream.copy_window_length = type == COPY ? 8 : 0;   // COPY: from the source
        stream.data.next = data.data();
        stream.data.end = data.data() + data.size();
        HalfInstruction half{type, 3, 0};
        EXPECT_EQ(execute_half_instruction(&stream, &half), DECODE_INVALID_INPUT) << int(type);
        EXPECT_STREQ(stream.message, "overflow while decoding");
        EXPECT_EQ(stream.output_avail, 14u);
        half.size = 2;   // exactly fits
        EXPECT_EQ(execute_half_instruction(&stream, &half), 0) << int(type);
        EXPECT_EQ(stream.output_avail, 16u);
        stream.source = nullptr;
    }
}

TEST(DecoderInstructions, OutputBufferIsReusedAndGrownInGranules) {
    std::vector<Window> windows;
    const Bytes small(100, 'a');
    const Bytes large(20000, 'b');
    Program small_program;
    small_program.run(small.size(), 'a');
    Program large_program;
    large_program.run(large.size(), 'b');
    DecodeStream stream;
    const Bytes patch = make_patch({checked_window(small_program, small),
                                    checked_window(small_program, small),
                                    checked_window(large_program, large)});
    DecodeOptions options;
    options.chunk_size = 1 << 20;
    const DecodeRun run = decode_with(stream, patch, options);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(stream.output_space, 32768u);
    EXPECT_EQ(run.output.size(), 20200u);
    release_stream(&stream);
}
