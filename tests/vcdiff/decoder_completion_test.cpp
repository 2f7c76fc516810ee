// Window completion: the checks in their order, the checksum and its Adler-32.
#include <gtest/gtest.h>

#include <random>

#include "decoder_test_patches.h"
#include "vcdiff/decoder.h"

using namespace decoder_test;

namespace {

std::uint32_t reference_adler32_from(std::uint32_t initial, const Bytes& bytes) {
    std::uint32_t s1 = initial & 0xFFFF;
    std::uint32_t s2 = initial >> 16;
    for (std::uint8_t b : bytes) {
        s1 = (s1 + b) % 65521;
        s2 = (s2 + s1) % 65521;
    }
    return (s2 << 16) | s1;
}

Window window_of(const Program& program, u64 target_length, std::optional<std::uint32_t> checksum) {
    Window window;
    window.program = program;
    window.target_length = target_length;
    window.checksum = checksum;
    return window;
}

}  // namespace

TEST(DecoderWindowCompletion, ChecksRunInTheirOrder) {
    const Bytes abc{'a', 'b', 'c'};
    const std::uint32_t good = reference_adler32(abc);

    Program short_and_extra;
    short_and_extra.add({'a', 'b'});
    short_and_extra.data.push_back('z');
    DecodeRun run = decode(make_patch({window_of(short_and_extra, 3, 0)}));
    EXPECT_EQ(run.result, DECODE_INVALID_INPUT);
    EXPECT_EQ(run.message, "wrong window length");

    Program extra_data;
    extra_data.add(abc);
    extra_data.data.push_back('z');
    extra_data.addresses.push_back(0);
    run = decode(make_patch({window_of(extra_data, 3, good)}));   // checksum would match
    EXPECT_EQ(run.result, DECODE_INVALID_INPUT);
    EXPECT_EQ(run.message, "extra data section");

    Program extra_address;
    extra_address.add(abc);
    extra_address.addresses.push_back(0);
    run = decode(make_patch({window_of(extra_address, 3, good + 1)}));
    EXPECT_EQ(run.result, DECODE_INVALID_INPUT);
    EXPECT_EQ(run.message, "extra address section");

    Program exact;
    exact.add(abc);
    run = decode(make_patch({window_of(exact, 3, good + 1)}));
    EXPECT_EQ(run.result, DECODE_CHECKSUM_MISMATCH);
    EXPECT_EQ(run.message, "target window checksum mismatch");
    EXPECT_TRUE(run.output.empty());

    run = decode(make_patch({window_of(exact, 3, good)}));
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.output, abc);
}

TEST(DecoderWindowCompletion, EmptyWindowsAndWindowsWithoutChecksum) {
    DecodeRun run = decode(make_patch({window_of({}, 0, 1)}));
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.events, (std::vector<int>{DECODE_GOTHEADER, DECODE_OUTPUT, DECODE_WINFINISH}));
    run = decode(make_patch({window_of({}, 0, 2)}));
    EXPECT_EQ(run.result, DECODE_CHECKSUM_MISMATCH);

    run = decode(make_patch({window_of({}, 5, std::nullopt)}));
    EXPECT_EQ(run.result, DECODE_INVALID_INPUT);
    EXPECT_EQ(run.message, "wrong window length");

    Program program;
    program.add({9, 9});
    run = decode(make_patch({window_of(program, 2, std::nullopt)}));
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.output, (Bytes{9, 9}));

    DecodeOptions skip;
    skip.config.flags = DECODE_FLAG_SKIP_CHECKSUM;
    run = decode(make_patch({window_of(program, 2, 12345)}), skip);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.output, (Bytes{9, 9}));
}

TEST(DecoderWindowCompletion, EachWindowIsVerifiedByItself) {
    Program first;
    first.add({1, 2, 3});
    Program second;
    second.run(4, 7);
    const Bytes second_bytes{7, 7, 7, 7};
    const Bytes good = make_patch({checked_window(first, {1, 2, 3}), checked_window(second, second_bytes)});
    DecodeRun run = decode(good);
    EXPECT_EQ(run.result, 0) << run.message;
    EXPECT_EQ(run.output, (Bytes{1, 2, 3, 7, 7, 7, 7}));
    EXPECT_EQ(run.output_total, 7u);

    Window wrong = checked_window(second, second_bytes);
    wrong.checksum = reference_adler32(Bytes{1, 2, 3, 7, 7, 7, 7});   // over both windows: wrong
    run = decode(make_patch({checked_window(first, {1, 2, 3}), wrong}));
    EXPECT_EQ(run.result, DECODE_CHECKSUM_MISMATCH);
    EXPECT_EQ(run.output, (Bytes{1, 2, 3}));   // the first window was already handed over
    EXPECT_EQ(run.events, (std::vector<int>{DECODE_GOTHEADER, DECODE_OUTPUT, DECODE_WINFINISH,
                                            DECODE_WINSTART, DECODE_CHECKSUM_MISMATCH}));
}

TEST(DecoderWindowCompletion, OutputNotTakenMakesTheNextWindowFail) {
    Program program;
    program.add({1, 2});
    DecodeOptions careless;
    careless.reset_output_avail = false;
    DecodeRun run = decode(make_patch({checked_window(program, {1, 2}), checked_window(program, {1, 2})}),
                           careless);
    EXPECT_EQ(run.result, DECODE_INVALID_INPUT);
    EXPECT_EQ(run.message, "wrong window length");

    // A full buffer left untaken: the next window would write past it.
    Program fill;
    fill.run(16384, 1);
    run = decode(make_patch({checked_window(fill, Bytes(16384, 1)), checked_window(program, {1, 2})}),
                 careless);
    EXPECT_EQ(run.result, DECODE_INVALID_INPUT);
    EXPECT_EQ(run.message, "overflow while decoding");
}

TEST(DecoderAdler32, MatchesAByteByByteReferenceAcrossRunBoundaries) {
    std::mt19937 random(99);
    for (std::size_t length : {0u, 1u, 15u, 16u, 17u, 5551u, 5552u, 5553u, 11104u, 11105u, 16663u, 100000u}) {
        Bytes ones(length, 0xFF);   // the largest sums a run can reach
        Bytes noise(length);
        for (auto& b : noise) b = static_cast<std::uint8_t>(random());
        for (std::uint32_t initial : {1u, 0u, 0xFFF0FFF0u, 0x12345678u}) {
            // Only reduced initial sums are meaningful starting points.
            const std::uint32_t reduced = ((initial >> 16) % 65521) << 16 | ((initial & 0xFFFF) % 65521);
            EXPECT_EQ(adler32(reduced, ones.data(), ones.size()), reference_adler32_from(reduced, ones))
                << length << " " << reduced;
            EXPECT_EQ(adler32(reduced, noise.data(), noise.size()), reference_adler32_from(reduced, noise))
                << length << " " << reduced;
        }
    }
    EXPECT_EQ(adler32(0x1234, nullptr, 0), 0x1234u);
    const Bytes wiki{'W', 'i', 'k', 'i', 'p', 'e', 'd', 'i', 'a'};
    EXPECT_EQ(adler32(1, wiki.data(), wiki.size()), 0x11E60398u);
}
