// Configuration, source attachment, end of input, release and result names.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>

#include "decoder_test_patches.h"
#include "vcdiff/decoder.h"

using namespace decoder_test;

namespace {

bool all_zero(const DecodeStream& stream) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&stream);
    for (std::size_t i = 0; i < sizeof stream; ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

struct ConfigCase {
    std::uint32_t flags;
    u64 sprevsz;
    const char* message;
};

}  // namespace

TEST(DecoderConfiguration, DefaultsApplyForNoOrZeroConfiguration) {
    DecodeStream stream;
    std::memset(&stream, 0xAB, sizeof stream);
    ASSERT_EQ(configure_stream(&stream, nullptr), 0);
    EXPECT_EQ(stream.allocate, &default_allocate);
    EXPECT_EQ(stream.release, &default_release);
    EXPECT_EQ(stream.state, STATE_MAGIC);
    EXPECT_EQ(stream.output_buffer, nullptr);
    EXPECT_EQ(stream.message, nullptr);

    DecodeConfig config{};
    config.window_size = 16384;
    config.flags = 0x400;
    config.opaque = &config;
    ASSERT_EQ(configure_stream(&stream, &config), 0);
    EXPECT_EQ(stream.flags, 0x400u);
    EXPECT_EQ(stream.opaque, &config);
    EXPECT_EQ(release_stream(&stream), 0);
}

TEST(DecoderConfiguration, RefusesSecondaryCompressionAndBadSprevsz) {
    const ConfigCase cases[] = {
        {0x100, 0, "SEC flags require a secondary compressor type"},
        {0x80, 0, "SEC flags require a secondary compressor type"},
        {0x20, 0, "unavailable secondary compressor: DJW Static Huffman"},
        {0x40, 0, "unavailable secondary compressor: FGK Adaptive Huffman"},
        {0x1000000, 0, "unavailable secondary compressor: LZMA"},
        {0x60, 0, "too many secondary compressor types set"},
        {0x1000060, 0, "too many secondary compressor types set"},
        {0x1000020 | 0x200, 0, "too many secondary compressor types set"},
        {0, 3, "sprevsz is required to be a power of two"},
        {0, (u64{1} << 63) + 1, "sprevsz is required to be a power of two"},
    };
    for (const ConfigCase& c : cases) {
        SCOPED_TRACE(c.message);
        DecodeConfig config{};
        config.flags = c.flags;
        config.sprevsz = c.sprevsz;
        DecodeStream stream{};
        EXPECT_EQ(configure_stream(&stream, &config), DECODE_INTERNAL);
        ASSERT_NE(stream.message, nullptr);
        EXPECT_STREQ(stream.message, c.message);
    }
    DecodeConfig good{};
    good.sprevsz = u64{1} << 63;
    good.flags = 0x800 | 0x10;
    DecodeStream stream{};
    EXPECT_EQ(configure_stream(&stream, &good), 0);
}

TEST(DecoderConfiguration, AttachSourceRoundsBlockSizeToPowerOfTwo) {
    const struct {
        u64 given, size, shift;
    } cases[] = {
        {16384, 16384, 14}, {10000, 16384, 14}, {0, 1, 0}, {1, 1, 0}, {3, 4, 2},
        {(u64{1} << 62) + 1, u64{1} << 63, 63},
        // No power of two is above 2^63: the largest one serves rather than a wrap to 0.
        {std::numeric_limits<u64>::max(), u64{1} << 63, 63},
    };
    for (const auto& c : cases) {
        DecodeStream stream{};
        ASSERT_EQ(configure_stream(&stream, nullptr), 0);
        DecodeSource source{};
        source.block_size = c.given;
        EXPECT_EQ(attach_source(&stream, &source), 0);
        EXPECT_EQ(stream.source, &source);
        EXPECT_EQ(source.block_size, c.size) << c.given;
        EXPECT_EQ(source.block_shift, c.shift) << c.given;
        EXPECT_EQ(source.block_mask, c.size - 1) << c.given;
    }
}

TEST(DecoderConfiguration, EndStreamAcceptsOnlyCleanEnds) {
    Program program;
    program.add({1, 2, 3});
    const Bytes patch = make_patch({checked_window(program, {1, 2, 3})});

    DecodeStream stream;
    ASSERT_EQ(configure_stream(&stream, nullptr), 0);
    EXPECT_EQ(end_stream(&stream), 0);   // nothing seen
    stream.input_next = patch.data();
    stream.input_avail = 2;
    EXPECT_EQ(decode_step(&stream), DECODE_INPUT);
    EXPECT_EQ(end_stream(&stream), 0);   // half of the magic

    stream.input_avail = patch.size() - 2 - 5;   // header and window header, not the 5 section bytes
    EXPECT_EQ(decode_step(&stream), DECODE_GOTHEADER);
    EXPECT_EQ(decode_step(&stream), DECODE_INPUT);
    EXPECT_EQ(end_stream(&stream), DECODE_INVALID_INPUT);
    EXPECT_STREQ(stream.message, "eof in decode");

    stream.input_avail = static_cast<u64>(patch.data() + patch.size() - stream.input_next);
    EXPECT_EQ(decode_step(&stream), DECODE_OUTPUT);
    stream.output_avail = 0;
    EXPECT_EQ(end_stream(&stream), DECODE_INVALID_INPUT);   // closing call not made yet
    EXPECT_EQ(decode_step(&stream), DECODE_WINFINISH);
    EXPECT_EQ(end_stream(&stream), 0);
    EXPECT_EQ(decode_step(&stream), DECODE_INPUT);
    EXPECT_EQ(end_stream(&stream), 0);
    release_stream(&stream);
}

TEST(DecoderConfiguration, ReleaseClearsTheStream) {
    DecodeStream fresh;
    ASSERT_EQ(configure_stream(&fresh, nullptr), 0);
    EXPECT_EQ(release_stream(&fresh), 0);
    EXPECT_TRUE(all_zero(fresh));

    Program program;
    program.add({7, 8});
    DecodeStream used;
    const DecodeRun run = decode_with(used, make_patch({checked_window(program, {7, 8})}), {});
    ASSERT_EQ(run.result, 0);
    EXPECT_NE(used.output_buffer, nullptr);
    EXPECT_EQ(release_stream(&used), 0);
    EXPECT_TRUE(all_zero(used));
    // A released stream may be configured again.
    EXPECT_EQ(configure_stream(&used, nullptr), 0);
    release_stream(&used);
}

TEST(DecoderConfiguration, DefaultAllocateRefusesOverflowingProducts) {
    EXPECT_EQ(default_allocate(nullptr, std::numeric_limits<u64>::max() / 8 + 1, 8), nullptr);
    EXPECT_EQ(default_allocate(nullptr, u64{1} << 32, u64{1} << 32), nullptr);
    void* p = default_allocate(nullptr, 4, 8);
    ASSERT_NE(p, nullptr);
    std::memset(p, 0, 32);
    default_release(nullptr, p);
}

TEST(DecoderConfiguration, ResultNames) {
    EXPECT_STREQ(decode_result_name(DECODE_INPUT), "DECODE_INPUT");
    EXPECT_STREQ(decode_result_name(DECODE_CHECKSUM_MISMATCH), "DECODE_CHECKSUM_MISMATCH");
    EXPECT_STREQ(decode_result_name(12), "OUT_OF_MEMORY");
    EXPECT_EQ(decode_result_name(-17702), nullptr);
    EXPECT_EQ(decode_result_name(-17716), nullptr);
}
