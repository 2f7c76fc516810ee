// Every allocation failure is reported as out of memory and leaks nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <random>
#include <set>

#include "decoder_test_patches.h"
#include "vcdiff/decoder.h"

using namespace decoder_test;

namespace {

// Counts allocations and releases; fails the `fail_at`-th allocation (1-based, 0: never)
// and refuses anything above `limit` bytes, so no test asks the heap for absurd sizes.
struct CountingAllocator {
    u64 fail_at = 0;
    u64 limit = u64{1} << 30;
    u64 allocations = 0;
    u64 releases = 0;
    u64 largest_request = 0;
    std::set<void*> live;
};

void* counting_allocate(void* opaque, u64 count, u64 element_size) {
    auto* a = static_cast<CountingAllocator*>(opaque);
    ++a->allocations;
    if (element_size != 0 && count <= std::numeric_limits<u64>::max() / element_size) {
        a->largest_request = std::max(a->largest_request, count * element_size);
    }
    if (a->allocations == a->fail_at) {
        return nullptr;
    }
    if (element_size != 0 && count > a->limit / element_size) {
        return nullptr;
    }
    void* p = std::malloc(static_cast<std::size_t>(count * element_size));
    if (p != nullptr) {
        a->live.insert(p);
    }
    return p;
}

void counting_release(void* opaque, void* pointer) {
    auto* a = static_cast<CountingAllocator*>(opaque);
    ++a->releases;
    EXPECT_EQ(a->live.erase(pointer), 1u) << "released twice or never allocated";
    std::free(pointer);
}

DecodeOptions with_allocator(CountingAllocator& allocator, const Bytes* source, std::size_t chunk) {
    DecodeOptions options;
    options.source = source;
    options.chunk_size = chunk;
    options.config.window_size = 16384;
    options.config.flags = 0x400;
    options.config.allocate = counting_allocate;
    options.config.release = counting_release;
    options.config.opaque = &allocator;
    return options;
}

// Windows that grow, so the output buffer and the section copies are reallocated.
Bytes growing_patch(const Bytes& source) {
    Bytes patch = file_header(VCD_APPHEADER);
    put_integer(patch, 4);
    append(patch, {'t', 'e', 's', 't'});
    std::mt19937 random(3);
    for (std::size_t size : {100u, 20000u, 50000u}) {
        Bytes bytes(size);
        for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
        Program program;
        program.copy_self(1000, 10).add(bytes).copy_here(50, 7);
        Bytes target(source.begin() + 10, source.begin() + 1010);
        append(target, bytes);
        for (int i = 0; i < 50; ++i) target.push_back(target[target.size() - 7]);
        append(patch, encode_window(checked_window(program, target, VCD_SOURCE, 2000, 0)));
    }
    return patch;
}

}  // namespace

TEST(DecoderAllocation, EveryFailedAllocationIsOutOfMemoryWithoutLeaks) {
    Bytes source(4000);
    for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<std::uint8_t>(i * 7);
    const Bytes patch = growing_patch(source);

    for (std::size_t chunk : {std::size_t{1000}, patch.size()}) {
        SCOPED_TRACE(chunk);
        CountingAllocator clean;
        const DecodeRun reference = decode(patch, with_allocator(clean, &source, chunk));
        ASSERT_EQ(reference.result, 0) << reference.message;
        ASSERT_EQ(clean.allocations, clean.releases);
        ASSERT_TRUE(clean.live.empty());
        // Address cache (2), application header, output buffer growths, and with small
        // chunks the section copies.
        ASSERT_GE(clean.allocations, chunk == 1000 ? 8u : 6u);

        for (u64 k = 1; k <= clean.allocations; ++k) {
            SCOPED_TRACE(k);
            CountingAllocator failing;
            failing.fail_at = k;
            DecodeStream stream;
            const DecodeRun run = decode_with(stream, patch, with_allocator(failing, &source, chunk));
            EXPECT_EQ(run.result, 12);
            EXPECT_EQ(run.message, "out of memory");
            EXPECT_LE(run.output.size(), reference.output.size());
            EXPECT_TRUE(std::equal(run.output.begin(), run.output.end(), reference.output.begin()));
            release_stream(&stream);
            EXPECT_EQ(failing.allocations - 1, failing.releases);   // the failed one gave nothing
            EXPECT_TRUE(failing.live.empty());
        }
    }
}

TEST(DecoderAllocation, HugeApplicationHeaderIsOutOfMemoryNotAShortBuffer) {
    for (u64 length : {std::numeric_limits<u64>::max() - 1, u64{1} << 40}) {
        CountingAllocator allocator;
        Bytes patch = file_header(VCD_APPHEADER);
        put_integer(patch, length);
        append(patch, {1, 2, 3});
        const DecodeRun run = decode(patch, with_allocator(allocator, nullptr, 16384));
        EXPECT_EQ(run.result, 12);
        EXPECT_EQ(run.message, "out of memory");
        EXPECT_EQ(allocator.largest_request, length + 1);
        EXPECT_TRUE(allocator.live.empty());
    }
}

TEST(DecoderAllocation, HugeSectionIsOutOfMemoryNotAShortBuffer) {
    // A data section longer than 2^63 that is not a multiple of the granule.
    const u64 data_length = (u64{1} << 63) + 5;
    Bytes rest;
    put_integer(rest, 0);
    rest.push_back(0);
    put_integer(rest, data_length);
    put_integer(rest, 0);
    put_integer(rest, 0);
    Bytes patch = file_header();
    patch.push_back(0);
    put_integer(patch, rest.size() + data_length);
    append(patch, rest);
    append(patch, {1, 2, 3});
    CountingAllocator allocator;
    const DecodeRun run = decode(patch, with_allocator(allocator, nullptr, 16384));
    EXPECT_EQ(run.result, 12);
    EXPECT_EQ(run.message, "out of memory");
    EXPECT_GE(allocator.largest_request, data_length);
    EXPECT_TRUE(allocator.live.empty());
}
