// File header, window header and header integers.
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "decoder_test_patches.h"
#include "vcdiff/decoder.h"
#include "vcdiff/decoder_internal.h"

using namespace decoder_test;

namespace {

constexpr u64 U64_MAX = std::numeric_limits<u64>::max();

struct FailureCase {
    const char* name;
    Bytes input;
    int code;
    const char* message;
};

void expect_failures(const std::vector<FailureCase>& cases) {
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        const DecodeRun run = decode(c.input);
        EXPECT_EQ(run.result, c.code);
        EXPECT_EQ(run.message, c.message);
    }
}

Bytes bytes_of(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) {
        append(out, part);
    }
    return out;
}

// A window header with empty sections whose fields are given as raw bytes.
Bytes raw_window(std::uint8_t indicator, const Bytes& copy_fields, const Bytes& target_length,
                 const Bytes& lengths, std::uint8_t delta = 0) {
    Bytes rest = bytes_of({target_length, Bytes{delta}, lengths});
    return bytes_of({Bytes{indicator}, copy_fields, integer_bytes(rest.size()), rest});
}

DecodeStream stream_with_input(const Bytes& input) {
    DecodeStream stream;
    configure_stream(&stream, nullptr);
    stream.input_next = input.data();
    stream.input_avail = input.size();
    return stream;
}

}  // namespace

TEST(DecoderFileHeader, EachFailureHasItsCodeAndMessage) {
    expect_failures({
        {"version", {0xD6, 0xC3, 0xC4, 0x01}, DECODE_INVALID_INPUT,
         "VCDIFF input version > 0 is not supported"},
        {"magic", {0xD6, 0xC3, 0x44, 0x00}, DECODE_INVALID_INPUT, "not a VCDIFF input"},
        {"indicator", {0xD6, 0xC3, 0xC4, 0x00, 0x08}, DECODE_INVALID_INPUT,
         "unrecognized header indicator bits set"},
        {"djw", {0xD6, 0xC3, 0xC4, 0x00, 0x01, 1}, DECODE_INTERNAL,
         "unavailable secondary compressor: DJW Static Huffman"},
        {"lzma", {0xD6, 0xC3, 0xC4, 0x00, 0x01, 2}, DECODE_INTERNAL,
         "unavailable secondary compressor: LZMA"},
        {"fgk", {0xD6, 0xC3, 0xC4, 0x00, 0x01, 16}, DECODE_INTERNAL,
         "unavailable secondary compressor: FGK Adaptive Huffman"},
        {"unknown id", {0xD6, 0xC3, 0xC4, 0x00, 0x01, 3}, DECODE_INVALID_INPUT,
         "unknown secondary compressor ID"},
        {"table size 2", {0xD6, 0xC3, 0xC4, 0x00, 0x02, 2}, 12, "invalid code table size"},
        {"table", {0xD6, 0xC3, 0xC4, 0x00, 0x02, 3, 4, 3}, DECODE_UNIMPLEMENTED,
         "VCD_CODETABLE support was removed"},
        {"appheader 2^64-1",
         bytes_of({file_header(VCD_APPHEADER), integer_bytes(U64_MAX)}), DECODE_INVALID_INPUT,
         "exceptional appheader size"},
        {"appheader 2^64",
         bytes_of({file_header(VCD_APPHEADER), Bytes{0x82, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80,
                                                      0x80, 0x80, 0x00}}),
         DECODE_INVALID_INPUT, "overflow in decode_integer"},
    });
}

TEST(DecoderFileHeader, StateAfterFailuresAndTableFields) {
    DecodeStream stream;
    const Bytes secondary{0xD6, 0xC3, 0xC4, 0x00, 0x01, 2};
    DecodeRun run = decode_with(stream, secondary, {});
    EXPECT_EQ(stream.state, STATE_CODE_TABLE_LENGTH);   // moved on before failing
    EXPECT_EQ(stream.secondary_id, 2u);
    release_stream(&stream);

    const Bytes table{0xD6, 0xC3, 0xC4, 0x00, 0x02, 10, 5, 7};
    run = decode_with(stream, table, {});
    EXPECT_EQ(run.result, DECODE_UNIMPLEMENTED);
    EXPECT_EQ(stream.code_table_length, 8u);
    EXPECT_EQ(stream.address_cache.near_count, 5u);
    EXPECT_EQ(stream.address_cache.same_count, 7u);
    EXPECT_EQ(stream.input_total, table.size());   // the table data itself is never read
    release_stream(&stream);
}

TEST(DecoderFileHeader, HeaderWithoutWindowsEndsCleanly) {
    const DecodeRun run = decode(file_header());
    EXPECT_EQ(run.result, 0);
    EXPECT_TRUE(run.events.empty());   // no DECODE_GOTHEADER without a window
    EXPECT_EQ(run.state, STATE_WINDOW_INDICATOR);
}

TEST(DecoderFileHeader, ApplicationHeaderIsKeptWithATerminatingNul) {
    DecodeStream stream;
    Bytes empty = bytes_of({file_header(VCD_APPHEADER), integer_bytes(0)});
    DecodeRun run = decode_with(stream, empty, {});
    EXPECT_EQ(run.result, 0);
    ASSERT_NE(stream.appheader, nullptr);
    EXPECT_EQ(stream.appheader[0], 0);
    release_stream(&stream);

    Program program;
    program.add({'o', 'k'});
    const Bytes with_window = bytes_of({file_header(VCD_APPHEADER), integer_bytes(5),
                                        Bytes{'h', 'e', 'l', 'l', 'o'},
                                        encode_window(checked_window(program, {'o', 'k'}))});
    DecodeOptions split;
    split.chunk_size = 8;   // the application header arrives in two chunks
    run = decode_with(stream, with_window, split);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.output, (Bytes{'o', 'k'}));
    ASSERT_NE(stream.appheader, nullptr);
    EXPECT_EQ(stream.appheader_length, 5u);
    EXPECT_STREQ(reinterpret_cast<const char*>(stream.appheader), "hello");
    release_stream(&stream);
}

TEST(DecoderWindowHeader, EachFailureHasItsCodeAndMessage) {
    const Bytes empty_lengths{0, 0, 0};
    expect_failures({
        {"indicator", bytes_of({file_header(), Bytes{0x08}}), DECODE_INVALID_INPUT,
         "unrecognized window indicator bits set"},
        {"copy window offset",
         bytes_of({file_header(), Bytes{VCD_SOURCE}, integer_bytes(2), integer_bytes(U64_MAX - 1)}),
         DECODE_INVALID_INPUT, "decoder copy window overflows a file offset"},
        {"target window bounds",
         bytes_of({file_header(), Bytes{VCD_TARGET}, integer_bytes(1), integer_bytes(0)}),
         DECODE_INVALID_INPUT, "VCD_TARGET window out of bounds"},
        {"target window wrap",
         bytes_of({file_header(), raw_window(VCD_SOURCE, {2, 0}, integer_bytes(U64_MAX - 1),
                                             empty_lengths)}),
         DECODE_INVALID_INPUT, "decoder target window overflows a usize_t"},
        {"hard window size",
         bytes_of({file_header(), raw_window(0, {}, integer_bytes(67108865), empty_lengths)}),
         DECODE_INVALID_INPUT, "hard window size exceeded"},
        {"delta reserved bits",
         bytes_of({file_header(), raw_window(0, {}, {0}, empty_lengths, 0x08)}),
         DECODE_INVALID_INPUT, "unrecognized delta indicator bits set"},
        {"delta secondary bit",
         bytes_of({file_header(), raw_window(0, {}, {0}, empty_lengths, VCD_INSTCOMP)}),
         DECODE_INVALID_INPUT, "invalid delta indicator bits set"},
        {"header integer overflow",
         bytes_of({file_header(), Bytes{0, 0x82, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80,
                                        0x80}}),
         DECODE_INVALID_INPUT, "overflow in decode_integer"},
        {"both source and target",
         bytes_of({file_header(), raw_window(VCD_SOURCE | VCD_TARGET, {}, {0}, empty_lengths)}),
         DECODE_UNIMPLEMENTED, "VCD_TARGET not implemented"},
        {"source without source file",
         bytes_of({file_header(), raw_window(VCD_SOURCE, {4, 0}, {0}, empty_lengths)}),
         DECODE_INVALID_INPUT, "source input required"},
    });
}

TEST(DecoderWindowHeader, TargetLengthBoundIsInclusive) {
    const Bytes patch = bytes_of({file_header(), raw_window(0, {}, integer_bytes(67108864), {0, 0, 0})});
    DecodeStream stream = stream_with_input(patch);
    EXPECT_EQ(decode_step(&stream), DECODE_GOTHEADER);
    EXPECT_EQ(stream.target_length, 67108864u);
    EXPECT_EQ(stream.max_position, 67108864u);
    release_stream(&stream);
}

TEST(DecoderWindowHeader, RedundantLengthCountsShortestSizesOfItsOwnFields) {
    // Non-shortest target length or section length: every field decodes, the check fails.
    const Bytes padded_target = raw_window(0, {}, {0x80, 0x00}, {0, 0, 0});
    const Bytes padded_data_length = raw_window(0, {}, {0}, {0x80, 0x80, 0x00, 0, 0});
    const Bytes padded_addresses_length = raw_window(0, {}, {0}, {0, 0, 0x80, 0x00});
    for (const Bytes& window : {padded_target, padded_data_length, padded_addresses_length}) {
        const DecodeRun run = decode(bytes_of({file_header(), window}));
        EXPECT_EQ(run.result, DECODE_INVALID_INPUT);
        EXPECT_EQ(run.message, "incorrect encoding length (redundent)");
    }

    // Non-shortest copy window fields and encoding length are not part of the sum.
    Program program;
    program.copy_self(3, 1);
    const Bytes source{'a', 'b', 'c', 'd'};
    Window window = checked_window(program, {'b', 'c', 'd'}, VCD_SOURCE, 4, 0);
    Bytes encoded = encode_window(window);
    // indicator, copy length 4, copy offset 0, encoding length: pad the last three.
    Bytes padded = bytes_of({Bytes{encoded[0]}, Bytes{0x80, 0x04}, Bytes{0x80, 0x80, 0x00},
                             Bytes{0x80, encoded[3]}});
    padded.insert(padded.end(), encoded.begin() + 4, encoded.end());
    DecodeOptions options;
    options.source = &source;
    const DecodeRun run = decode(bytes_of({file_header(), padded}), options);
    EXPECT_EQ(run.result, 0) << run.message;
    EXPECT_EQ(run.output, (Bytes{'b', 'c', 'd'}));

    // A plain mismatch.
    Window wrong = checked_window(program, {'b', 'c', 'd'}, VCD_SOURCE, 4, 0);
    wrong.encoding_length = 100;
    const DecodeRun mismatch = decode(make_patch({wrong}), options);
    EXPECT_EQ(mismatch.result, DECODE_INVALID_INPUT);
    EXPECT_EQ(mismatch.message, "incorrect encoding length (redundent)");
}

TEST(DecoderWindowHeader, SectionLengthsThatWrapAreRefusedBeforeAnyRead) {
    // The redundant length uses wrap-around arithmetic, so these lengths pass it.
    const u64 data_length = U64_MAX;
    const u64 instructions_length = 2;
    Bytes rest = bytes_of({integer_bytes(0), Bytes{0}, integer_bytes(data_length),
                           integer_bytes(instructions_length), integer_bytes(0)});
    const u64 encoding_length = rest.size() + data_length + instructions_length;   // wraps
    const Bytes patch = bytes_of({file_header(), Bytes{0}, integer_bytes(encoding_length), rest,
                                  Bytes{1, 2, 3}});
    const DecodeRun run = decode(patch);
    EXPECT_EQ(run.result, DECODE_INTERNAL);
    EXPECT_EQ(run.message, "decoder section size overflow");
    EXPECT_EQ(run.events.front(), DECODE_GOTHEADER);
}

TEST(DecoderWindowHeader, WindowStartOverflowIsRefused) {
    const Bytes input{0};
    DecodeStream stream = stream_with_input(input);
    stream.state = STATE_WINDOW_INDICATOR;
    stream.window_start = U64_MAX - 4;
    stream.target_length = 5;
    EXPECT_EQ(decode_step(&stream), DECODE_INVALID_INPUT);
    EXPECT_STREQ(stream.message, "decoder file offset overflow");

    DecodeStream fits = stream_with_input(input);
    fits.state = STATE_WINDOW_INDICATOR;
    fits.window_start = U64_MAX - 5;
    fits.target_length = 5;
    EXPECT_EQ(decode_step(&fits), DECODE_INPUT);   // indicator read, copy fields absent, then input
    EXPECT_EQ(fits.window_start, U64_MAX);
    release_stream(&stream);
    release_stream(&fits);
}

TEST(DecoderWindowHeader, EmptyWindowReachesOutputWithoutInput) {
    Window window;
    window.checksum = 1;   // Adler-32 of nothing
    const Bytes patch = make_patch({window, window});
    DecodeStream stream = stream_with_input(patch);
    EXPECT_EQ(decode_step(&stream), DECODE_GOTHEADER);
    const u64 window_size = encode_window(window).size();
    stream.input_avail = window_size;   // only the second window is left
    EXPECT_EQ(decode_step(&stream), DECODE_OUTPUT);
    EXPECT_EQ(stream.output_avail, 0u);
    EXPECT_EQ(stream.output_next, nullptr);   // no window has needed a buffer
    EXPECT_EQ(decode_step(&stream), DECODE_WINFINISH);
    EXPECT_EQ(decode_step(&stream), DECODE_WINSTART);
    EXPECT_EQ(stream.input_avail, 0u);
    EXPECT_EQ(decode_step(&stream), DECODE_OUTPUT);
    EXPECT_EQ(decode_step(&stream), DECODE_WINFINISH);
    EXPECT_EQ(decode_step(&stream), DECODE_INPUT);
    EXPECT_EQ(stream.windows_done, 2u);
    EXPECT_EQ(end_stream(&stream), 0);
    release_stream(&stream);
}

TEST(DecoderIntegers, HeaderIntegersAcceptEveryU64AndNothingLarger) {
    const struct {
        Bytes bytes;
        u64 value;
    } good[] = {
        {{0x81, 0x00}, 128},
        {{0x81, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}, U64_MAX},
        {{0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x05}, 5},
        {{0x00}, 0},
    };
    for (const auto& c : good) {
        DecodeStream stream = stream_with_input(c.bytes);
        u64 value = 1;
        EXPECT_EQ(decode_integer(&stream, &value), 0);
        EXPECT_EQ(value, c.value);
        EXPECT_EQ(stream.input_avail, 0u);
        EXPECT_EQ(stream.integer_partial, 0u);

        // The same integer one byte per call.
        DecodeStream bytewise = stream_with_input(c.bytes);
        value = 1;
        int result = DECODE_INPUT;
        for (std::size_t i = 0; i < c.bytes.size(); ++i) {
            bytewise.input_next = c.bytes.data() + i;
            bytewise.input_avail = 1;
            result = decode_integer(&bytewise, &value);
            if (i + 1 < c.bytes.size()) {
                EXPECT_EQ(result, DECODE_INPUT);
                EXPECT_STREQ(bytewise.message, "further input required");
            }
        }
        EXPECT_EQ(result, 0);
        EXPECT_EQ(value, c.value);
        EXPECT_EQ(bytewise.input_total, c.bytes.size());
    }

    const Bytes too_big{0x82, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00};
    DecodeStream stream = stream_with_input(too_big);
    u64 value = 7;
    EXPECT_EQ(decode_integer(&stream, &value), DECODE_INVALID_INPUT);
    EXPECT_STREQ(stream.message, "overflow in decode_integer");
    EXPECT_EQ(stream.input_avail, 0u);   // the offending byte stays consumed
    EXPECT_EQ(value, 7u);
}

TEST(DecoderIntegers, SectionIntegersStopAtTheSectionEnd) {
    DecodeStream stream;
    configure_stream(&stream, nullptr);

    const Bytes two_pow_63{0x81, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00};
    const std::uint8_t* cursor = two_pow_63.data();
    u64 value = 0;
    EXPECT_EQ(read_integer(&stream, &cursor, two_pow_63.data() + two_pow_63.size(), &value), 0);
    EXPECT_EQ(value, u64{1} << 63);
    EXPECT_EQ(cursor, two_pow_63.data() + two_pow_63.size());

    const Bytes max{0x81, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x55};
    cursor = max.data();
    EXPECT_EQ(read_integer(&stream, &cursor, max.data() + max.size(), &value), 0);
    EXPECT_EQ(value, U64_MAX);
    EXPECT_EQ(cursor, max.data() + 10);   // the following byte is not taken

    for (const std::uint8_t tenth : Bytes{0x00, 0x7F, 0x80}) {
        const Bytes too_big{0x82, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, tenth};
        cursor = too_big.data();
        value = 3;
        EXPECT_EQ(read_integer(&stream, &cursor, too_big.data() + too_big.size(), &value),
                  DECODE_INVALID_INPUT);
        EXPECT_STREQ(stream.message, "overflow in read_intger");
        EXPECT_EQ(cursor, too_big.data());
        EXPECT_EQ(value, 3u);
    }

    const Bytes cut{0x81, 0x80};
    cursor = cut.data();
    EXPECT_EQ(read_integer(&stream, &cursor, cut.data() + cut.size(), &value), DECODE_INVALID_INPUT);
    EXPECT_STREQ(stream.message, "end-of-input in read_integer");
    EXPECT_EQ(cursor, cut.data());
    cursor = cut.data();
    EXPECT_EQ(read_integer(&stream, &cursor, cut.data(), &value), DECODE_INVALID_INPUT);
    EXPECT_STREQ(stream.message, "end-of-input in read_integer");
}
