// The same patch fed whole, in chunks and one byte per call.
#include <gtest/gtest.h>

#include <random>

#include "decoder_test_patches.h"
#include "vcdiff/decoder.h"

using namespace decoder_test;

namespace {

struct Sample {
    Bytes source;
    Bytes patch;
    Bytes target;
};

// Three windows: source COPYs across blocks, a large ADD spanning chunks, target COPYs,
// RUNs, an application header and checksums; the middle window has no source.
Sample sample_patch() {
    std::mt19937 random(7);
    Sample s;
    s.source.resize(50000);
    for (auto& b : s.source) b = static_cast<std::uint8_t>(random());

    Bytes first_target;
    Program first;
    first.copy_self(20000, 10000);
    first_target.assign(s.source.begin() + 30000, s.source.begin() + 50000);   // offset 20000
    first.add({1, 2, 3}).copy_here(30, 3);
    append(first_target, {1, 2, 3});
    for (int i = 0; i < 30; ++i) first_target.push_back(first_target[first_target.size() - 3]);

    Bytes big(40000);
    for (auto& b : big) b = static_cast<std::uint8_t>(random());
    Program second;
    second.add(big).run(1000, 0xEE).copy_self(5000, 100);
    Bytes second_target = big;
    second_target.insert(second_target.end(), 1000, 0xEE);
    second_target.insert(second_target.end(), big.begin() + 100, big.begin() + 5100);

    Program third;
    third.copy_self(16384, 16383).add({4}).copy(2, 10, 1);   // near slot 0 holds 16383
    Bytes third_target(s.source.begin() + 16383, s.source.begin() + 32767);
    third_target.push_back(4);
    third_target.insert(third_target.end(), s.source.begin() + 16384, s.source.begin() + 16394);

    s.patch = file_header(VCD_APPHEADER);
    put_integer(s.patch, 3);
    append(s.patch, {'a', 'p', 'p'});
    append(s.patch, encode_window(checked_window(first, first_target, VCD_SOURCE, 30000, 20000)));
    append(s.patch, encode_window(checked_window(second, second_target)));
    append(s.patch, encode_window(checked_window(third, third_target, VCD_SOURCE, 40000, 0)));
    s.target = first_target;
    append(s.target, second_target);
    append(s.target, third_target);
    return s;
}

}  // namespace

TEST(DecoderChunking, AnyChunkSizeGivesTheSameResults) {
    const Sample s = sample_patch();
    DecodeOptions whole;
    whole.source = &s.source;
    whole.chunk_size = s.patch.size();
    const DecodeRun reference = decode(s.patch, whole);
    ASSERT_EQ(reference.result, 0) << reference.message;
    ASSERT_EQ(reference.output, s.target);
    EXPECT_EQ(reference.events.front(), DECODE_GOTHEADER);
    EXPECT_EQ(reference.windows_done, 3u);
    EXPECT_EQ(reference.input_total, s.patch.size());
    EXPECT_EQ(reference.output_total, s.target.size());

    for (std::size_t chunk : {16384u, 1u, 7u, 1000u, 40003u}) {
        SCOPED_TRACE(chunk);
        DecodeOptions options = whole;
        options.chunk_size = chunk;
        const DecodeRun run = decode(s.patch, options);
        EXPECT_EQ(run.result, 0) << run.message;
        EXPECT_EQ(run.output, reference.output);
        EXPECT_EQ(run.events, reference.events);
        EXPECT_EQ(run.requests, reference.requests);
        EXPECT_EQ(run.input_total, reference.input_total);
        EXPECT_EQ(run.output_total, reference.output_total);
        EXPECT_EQ(run.windows_done, reference.windows_done);
        EXPECT_EQ(run.state, reference.state);
        EXPECT_GE(run.input_calls, (s.patch.size() + chunk - 1) / chunk);
    }
}

TEST(DecoderChunking, SectionsAreUsedInPlaceOnlyWhenWhollyInTheChunk) {
    const Sample s = sample_patch();
    DecodeOptions whole;
    whole.source = &s.source;
    whole.chunk_size = s.patch.size();
    DecodeStream stream;
    DecodeRun run = decode_with(stream, s.patch, whole);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(stream.data.copy, nullptr);
    EXPECT_EQ(stream.instructions.copy, nullptr);
    EXPECT_EQ(stream.addresses.copy, nullptr);
    release_stream(&stream);

    DecodeOptions chunked = whole;
    chunked.chunk_size = 16384;
    run = decode_with(stream, s.patch, chunked);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.output, s.target);
    ASSERT_NE(stream.data.copy, nullptr);
    EXPECT_EQ(stream.data.copy_capacity, 49152u);   // the 41000-byte data section, rounded up
    release_stream(&stream);
}

