// COPYs from the source, served block by block.
#include <gtest/gtest.h>

#include <random>

#include "decoder_test_patches.h"
#include "vcdiff/decoder.h"
#include "vcdiff/decoder_internal.h"

using namespace decoder_test;

namespace {

Bytes random_bytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    Bytes out(size);
    for (auto& b : out) b = static_cast<std::uint8_t>(random());
    return out;
}

Bytes slice(const Bytes& bytes, std::size_t from, std::size_t size) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                 bytes.begin() + static_cast<std::ptrdiff_t>(from + size));
}

// One window whose copy window is source bytes [offset, offset + length).
DecodeRun decode_source_window(const Bytes& source, u64 offset, u64 length, const Program& program,
                               const Bytes& expected, DecodeOptions options = {}) {
    options.source = &source;
    return decode(make_patch({checked_window(program, expected, VCD_SOURCE, length, offset)}), options);
}

int load_from(DecodeStream* stream, DecodeSource* source, u64 block) {
    const auto* bytes = static_cast<const Bytes*>(stream->opaque);
    const u64 start = block * source->block_size;
    source->current_block = bytes->data() + start;
    source->current_block_length = std::min<u64>(source->block_size, bytes->size() - start);
    source->current_block_number = block;
    return 0;
}

int refuse_going_back(DecodeStream*, DecodeSource*, u64) { return DECODE_TOOFARBACK; }
int fail_oddly(DecodeStream*, DecodeSource*, u64) { return 77; }

}  // namespace

TEST(DecoderSourceBlocks, AddressesMapOntoBlocksFromTheCopyWindowOffset) {
    const Bytes source = random_bytes(40000, 1);
    Program program;
    program.copy_self(1, 13000);   // source byte 20000 + 13000 = block 2, offset 232
    const DecodeRun run = decode_source_window(source, 20000, 14000, program, {source[33000]});
    EXPECT_EQ(run.result, 0) << run.message;
    EXPECT_EQ(run.output, (Bytes{source[33000]}));
    EXPECT_EQ(run.requests, (std::vector<u64>{2}));

    DecodeStream stream{};
    configure_stream(&stream, nullptr);
    DecodeSource record{};
    record.block_size = 16384;
    attach_source(&stream, &record);
    const Bytes patch = make_patch({checked_window(program, {source[33000]}, VCD_SOURCE, 14000, 20000)});
    stream.input_next = patch.data();
    stream.input_avail = patch.size();
    EXPECT_EQ(decode_step(&stream), DECODE_GOTHEADER);
    EXPECT_EQ(decode_step(&stream), DECODE_GETSRCBLK);
    EXPECT_EQ(record.copy_offset_blocks, 1u);
    EXPECT_EQ(record.copy_offset_remainder, 3616u);
    EXPECT_EQ(record.requested_block, 2u);
    EXPECT_STREQ(stream.message, "getblk source input");
    EXPECT_EQ(decode_step(&stream), DECODE_GETSRCBLK);   // asked again until loaded
    release_stream(&stream);
}

TEST(DecoderSourceBlocks, CopyAcrossBlockBoundariesResumesAfterEachRequest) {
    const Bytes source = random_bytes(70000, 2);
    Program program;
    program.copy_self(16384, 16383);   // 1 byte of block 0, 16383 of block 1
    program.copy_self(40000, 1);       // blocks 0, 1, 2: back to 0 first
    Bytes expected = slice(source, 16383, 16384);
    append(expected, slice(source, 1, 40000));
    const DecodeRun run = decode_source_window(source, 0, 70000, program, expected);
    EXPECT_EQ(run.result, 0) << run.message;
    EXPECT_EQ(run.output, expected);
    // Block 0 is loaded before the start; only one block is current at a time.
    EXPECT_EQ(run.requests, (std::vector<u64>{1, 0, 1, 2}));

    // One byte per call: the pending COPY survives DECODE_INPUT-free resumptions.
    DecodeOptions bytewise;
    bytewise.chunk_size = 1;
    const DecodeRun slow = decode_source_window(source, 0, 70000, program, expected, bytewise);
    EXPECT_EQ(slow.output, expected);
    EXPECT_EQ(slow.requests, run.requests);
}

TEST(DecoderSourceBlocks, ShortLastBlockEndsTheSource) {
    const Bytes source = random_bytes(20000, 3);   // block 1 holds 3616 bytes
    Program to_the_end;
    to_the_end.copy_self(100, 19900);
    DecodeRun run = decode_source_window(source, 0, 20000, to_the_end, slice(source, 19900, 100));
    EXPECT_EQ(run.result, 0) << run.message;
    EXPECT_EQ(run.output, slice(source, 19900, 100));

    // The copy window claims one byte more than the source has.
    Program one_past;
    one_past.copy_self(101, 19900);
    DecodeStream stream;
    DecodeOptions options;
    options.source = &source;
    run = decode_with(stream,
                      make_patch({checked_window(one_past, Bytes(101), VCD_SOURCE, 20001, 0)}),
                      options);
    EXPECT_EQ(run.result, DECODE_INVALID_INPUT);
    EXPECT_EQ(run.message, "source file too short");
    EXPECT_EQ(stream.output_avail, 0u);   // nothing of the short block was copied
    release_stream(&stream);

    // A source of whole blocks: the block after it comes back empty.
    const Bytes whole = random_bytes(32768, 4);
    Program past_whole;
    past_whole.copy_self(10, 32760);
    options.source = &whole;
    run = decode(make_patch({checked_window(past_whole, Bytes(10), VCD_SOURCE, 32770, 0)}), options);
    EXPECT_EQ(run.result, DECODE_INVALID_INPUT);
    EXPECT_EQ(run.message, "source file too short");
    EXPECT_EQ(run.requests, (std::vector<u64>{1, 2}));
}

TEST(DecoderSourceBlocks, CurrentBlockNeedsNoRequest) {
    const Bytes source = random_bytes(16384, 5);
    DecodeStream stream{};
    configure_stream(&stream, nullptr);
    DecodeSource record{};
    record.block_size = 16384;
    record.current_block = source.data();
    record.current_block_length = source.size();
    record.requested_block = 77;
    attach_source(&stream, &record);
    Bytes output(8);
    stream.output_next = output.data();
    stream.output_space = output.size();
    stream.copy_window_length = 16384;
    HalfInstruction half{COPY, 8, 100};
    EXPECT_EQ(execute_half_instruction(&stream, &half), 0);
    EXPECT_EQ(half.type, NOOP);
    EXPECT_EQ(record.requested_block, 77u);
    EXPECT_EQ(output, slice(source, 100, 8));
    EXPECT_EQ(fetch_source_block(&stream, 0), 0);
    stream.source = nullptr;
    release_stream(&stream);
}

TEST(DecoderSourceBlocks, BookkeepingOfTheSourceEnd) {
    const Bytes source = random_bytes(40000, 6);
    DecodeStream stream{};
    DecodeConfig config{};
    config.getblk = load_from;
    config.opaque = const_cast<Bytes*>(&source);
    configure_stream(&stream, &config);
    DecodeSource record{};
    record.block_size = 16384;
    attach_source(&stream, &record);
    EXPECT_EQ(fetch_source_block(&stream, 1), 0);
    EXPECT_EQ(record.last_block_number, 1u);
    EXPECT_EQ(record.end_known, 0);
    EXPECT_EQ(fetch_source_block(&stream, 2), 0);
    EXPECT_EQ(record.last_block_number, 2u);
    EXPECT_EQ(record.last_block_length, 40000u - 32768u);
    EXPECT_EQ(record.end_known, 1);
    EXPECT_EQ(fetch_source_block(&stream, 0), 0);   // a lower block changes nothing
    EXPECT_EQ(record.last_block_number, 2u);
    EXPECT_EQ(record.last_block_length, 40000u - 32768u);
    stream.source = nullptr;
    release_stream(&stream);
}

TEST(DecoderSourceBlocks, GetblkFunctionAnswersInsteadOfTheCaller) {
    const Bytes source = random_bytes(50000, 7);
    Program program;
    program.copy_self(30000, 10000);
    const Bytes expected = slice(source, 10000, 30000);

    DecodeOptions options;
    options.config.getblk = load_from;
    options.config.opaque = const_cast<Bytes*>(&source);
    options.preload_first_block = false;
    DecodeRun run = decode_source_window(source, 0, 50000, program, expected, options);
    EXPECT_EQ(run.result, 0) << run.message;
    EXPECT_EQ(run.output, expected);
    EXPECT_TRUE(run.requests.empty());

    options.config.getblk = refuse_going_back;
    run = decode_source_window(source, 0, 50000, program, expected, options);
    EXPECT_EQ(run.result, DECODE_INTERNAL);
    EXPECT_EQ(run.message, "non-seekable source in decode");

    options.config.getblk = fail_oddly;
    run = decode_source_window(source, 0, 50000, program, expected, options);
    EXPECT_EQ(run.result, 77);
}

