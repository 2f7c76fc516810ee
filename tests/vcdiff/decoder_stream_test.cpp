// Configuration, source attachment, chunked input and allocation failures.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <set>

#include "decoder_test_patches.h"

using namespace decoder_test;

namespace {

// Three windows with an application header: source COPYs across blocks, a data
// section larger than a chunk, RUNs, target COPYs and paired opcodes.
Bytes sample_patch(const Bytes& source, Bytes* target) {
    std::vector<WindowSpec> windows;
    for (int w = 0; w < 3; ++w) {
        InstructionEncoder enc;
        encoder_start(&enc, w == 1 ? 0 : 40000);
        if (w != 1) {
            encode_copy(&enc, 16383, 20000);   // blocks 0, 1, 2
            encode_copy(&enc, 5, 8);           // back to 0
        }
        encode_add(&enc, random_bytes(w == 1 ? 40000 : 3, static_cast<unsigned>(w)));
        encode_copy(&enc, enc.position - 3, 30, COPY_MODE_HERE);
        encode_run(&enc, 0xEE, 1000);
        encode_add(&enc, {1, 2});
        encode_copy(&enc, enc.copy_window_length + 7, 5);
        Bytes piece;
        windows.push_back(checked_window(&enc, source, 20 * static_cast<u64>(w), &piece));
        target->insert(target->end(), piece.begin(), piece.end());
    }
    FileHeaderSpec header;
    header.indicator = VCD_APPHEADER;
    header.app_header = {'a', 'p', 'p'};
    return patch_bytes(windows, header);
}

// Counts allocations; fails the `fail_at`-th one (1-based, 0: never).
struct CountingAllocator {
    u64 fail_at = 0;
    u64 allocations = 0;
    std::set<void*> live;
};

void* counting_allocate(void* opaque, u64 count, u64 element_size) {
    auto* a = static_cast<CountingAllocator*>(opaque);
    // Refuse absurd sizes rather than ask the heap for them.
    if (++a->allocations == a->fail_at || element_size == 0 || count > (u64{1} << 30) / element_size) {
        return nullptr;
    }
    void* p = std::malloc(static_cast<std::size_t>(count * element_size));
    if (p != nullptr) a->live.insert(p);
    return p;
}

void counting_release(void* opaque, void* pointer) {
    EXPECT_EQ(static_cast<CountingAllocator*>(opaque)->live.erase(pointer), 1u) << "unknown or twice released";
    std::free(pointer);
}

DecodeOptions with_allocator(CountingAllocator* allocator, const Bytes* source, std::size_t chunk) {
    DecodeOptions options;
    options.source = source;
    options.chunk_size = chunk;
    options.config.allocate = counting_allocate;
    options.config.release = counting_release;
    options.config.opaque = allocator;
    return options;
}

}  // namespace

TEST(DecoderConfiguration, RefusesSecondaryCompressionAndBadSprevsz) {
    const struct {
        std::uint32_t flags;
        u64 sprevsz;
        const char* message;
    } cases[] = {
        {0x100, 0, "SEC flags require a secondary compressor type"},
        {0x20, 0, "unavailable secondary compressor: DJW Static Huffman"},
        {0x40, 0, "unavailable secondary compressor: FGK Adaptive Huffman"},
        {0x1000000, 0, "unavailable secondary compressor: LZMA"},
        {0x1000020 | 0x200, 0, "too many secondary compressor types set"},
        {0, 3, "sprevsz is required to be a power of two"},
        {0, (u64{1} << 63) + 1, "sprevsz is required to be a power of two"},
        {0x800 | 0x10, u64{1} << 63, nullptr},
    };
    for (const auto& c : cases) {
        DecodeConfig config{};
        config.flags = c.flags;
        config.sprevsz = c.sprevsz;
        DecodeStream stream{};
        EXPECT_EQ(configure_stream(&stream, &config), c.message != nullptr ? DECODE_INTERNAL : 0) << c.flags;
        EXPECT_STREQ(stream.message, c.message);
        release_stream(&stream);
    }
}

TEST(DecoderConfiguration, AttachSourceRoundsBlockSizeToPowerOfTwo) {
    const struct {
        u64 given, size, shift;
    } cases[] = {
        {16384, 16384, 14}, {10000, 16384, 14}, {0, 1, 0}, {3, 4, 2},
        {~u64{0}, u64{1} << 63, 63},   // the largest power of two rather than a wrap to 0
    };
    for (const auto& c : cases) {
        DecodeStream stream{};
        ASSERT_EQ(configure_stream(&stream, nullptr), 0);
        DecodeSource source{};
        source.block_size = c.given;
        EXPECT_EQ(attach_source(&stream, &source), 0);
        EXPECT_EQ(source.block_size, c.size) << c.given;
        EXPECT_EQ(source.block_shift, c.shift) << c.given;
        EXPECT_EQ(source.block_mask, c.size - 1) << c.given;
    }
}

TEST(DecoderChunking, WholeSixteenKibiByteChunksAndSingleBytesAgree) {
    const Bytes source = random_bytes(50000, 9);
    Bytes target;
    const Bytes patch = sample_patch(source, &target);
    DecodeOptions options;
    options.source = &source;
    options.chunk_size = patch.size();
    const DecodeRun whole = decode(patch, options);
    ASSERT_EQ(whole.result, 0) << whole.message;
    ASSERT_EQ(whole.output, target);
    EXPECT_EQ(whole.requests, (std::vector<u64>{1, 2, 0, 1, 2, 0}));
    for (std::size_t chunk : {16384u, 1u}) {
        options.chunk_size = chunk;
        const DecodeRun run = decode(patch, options);
        EXPECT_EQ(run.result, 0) << chunk << run.message;
        EXPECT_EQ(run.output, whole.output) << chunk;
        EXPECT_EQ(run.events, whole.events) << chunk;
        EXPECT_EQ(run.requests, whole.requests) << chunk;
    }
}

TEST(DecoderAllocation, EveryFailedAllocationIsOutOfMemoryWithoutLeaks) {
    const Bytes source = random_bytes(50000, 9);
    Bytes target;
    const Bytes patch = sample_patch(source, &target);
    for (std::size_t chunk : {std::size_t{1000}, patch.size()}) {
        CountingAllocator clean;
        ASSERT_EQ(decode(patch, with_allocator(&clean, &source, chunk)).result, 0);
        ASSERT_GE(clean.allocations, 4u);
        for (u64 k = 1; k <= clean.allocations; ++k) {
            CountingAllocator failing;
            failing.fail_at = k;
            const DecodeRun run = decode(patch, with_allocator(&failing, &source, chunk));
            EXPECT_EQ(run.result, 12) << chunk << " " << k;
            EXPECT_EQ(run.message, "out of memory") << chunk << " " << k;
            EXPECT_TRUE(failing.live.empty()) << chunk << " " << k;
        }
    }
}

TEST(DecoderAllocation, HugeLengthsAreOutOfMemoryNotShortBuffers) {
    FileHeaderSpec header;
    header.indicator = VCD_APPHEADER;
    header.app_header_length = ~u64{0} - 1;
    // A data section above 2^63 that is not a multiple of the allocation granule.
    Bytes rest{0, 0};
    append_integer(&rest, (u64{1} << 63) + 5);
    rest.insert(rest.end(), {0, 0});
    Bytes section = patch_bytes({});
    section.push_back(0);
    append_integer(&section, rest.size() + (u64{1} << 63) + 5);
    section.insert(section.end(), rest.begin(), rest.end());
    section.insert(section.end(), {1, 2, 3});
    for (const Bytes& patch : {patch_bytes({}, header), section}) {
        CountingAllocator allocator;
        const DecodeRun run = decode(patch, with_allocator(&allocator, nullptr, 16384));
        EXPECT_EQ(run.result, 12);
        EXPECT_EQ(run.message, "out of memory");
        EXPECT_TRUE(allocator.live.empty());
    }
}
