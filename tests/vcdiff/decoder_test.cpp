// The decoder through its step interface: malformed and valid patches, the code
// table, Adler-32, chunking and allocation failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <string>

#include "patch_reference.h"
#include "vcdiff/decoder.h"

namespace {

constexpr u64 U64_MAX = ~u64{0};
const Bytes TWO_POW_64{0x82, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00};
const Bytes SOURCE = random_bytes(50000, 9);

// Counts allocations, fails the `fail_at`-th one (1-based, 0: never) and refuses
// sizes no test needs rather than ask the heap for them.
struct CountingAllocator {
    u64 fail_at = 0;
    u64 allocations = 0;
    std::set<void*> live;
};

void* counting_allocate(void* opaque, u64 count, u64 element_size) {
    auto* a = static_cast<CountingAllocator*>(opaque);
    if (++a->allocations == a->fail_at || element_size == 0 || count > (u64{1} << 30) / element_size) return nullptr;
    void* p = std::malloc(static_cast<std::size_t>(count * element_size));
    if (p != nullptr) a->live.insert(p);
    return p;
}

void counting_release(void* opaque, void* pointer) {
    EXPECT_EQ(static_cast<CountingAllocator*>(opaque)->live.erase(pointer), 1u) << "unknown or twice released";
    std::free(pointer);
}

struct DecodeRun {
    int result = 0;   // the failure, or end_stream's result
    std::string message;
    Bytes output;
    std::vector<int> events;     // every result but DECODE_INPUT, in order
    std::vector<u64> requests;   // requested blocks, in order
    // What the decoder learnt of the source's end, for its caller.
    u64 last_block_number = 0, last_block_length = 0, requests_before_the_end = 0;
    int end_known = 0;
};

void load_block(const Bytes* source, u64 number, Bytes* block, DecodeSource* record) {
    const u64 start = number * record->block_size;
    const u64 length = start >= source->size() ? 0 : std::min<u64>(record->block_size, source->size() - start);
    if (length != 0) std::memcpy(block->data(), source->data() + start, static_cast<std::size_t>(length));
    record->current_block = block->data();
    record->current_block_length = length;
    record->current_block_number = number;
}

// Feeds `patch` in chunks as the patch driver does: its flags, 16 KiB source blocks.
DecodeRun decode(const Bytes& patch, const Bytes* source, std::size_t chunk, CountingAllocator* allocator) {
    DecodeRun run;
    DecodeConfig config{};
    config.window_size = 16384;
    config.flags = DECODE_FLAG_CHECKSUMS;
    config.allocate = counting_allocate;
    config.release = counting_release;
    config.opaque = allocator;
    DecodeStream stream{};
    run.result = configure_stream(&stream, &config);
    DecodeSource record{};
    record.block_size = 16384;
    Bytes block(record.block_size);
    if (run.result == 0 && source != nullptr) {
        load_block(source, 0, &block, &record);
        run.result = attach_source(&stream, &record);
    }
    for (std::size_t offset = 0; run.result == 0 && offset < patch.size();) {
        const std::size_t length = std::min(chunk, patch.size() - offset);
        stream.input_next = patch.data() + offset;
        stream.input_avail = length;
        offset += length;
        for (int result = decode_step(&stream); result != DECODE_INPUT; result = decode_step(&stream)) {
            run.events.push_back(result);
            if (result == DECODE_OUTPUT) {
                run.output.insert(run.output.end(), stream.output_next, stream.output_next + stream.output_avail);
                stream.output_avail = 0;
            } else if (result == DECODE_GETSRCBLK) {
                run.requests.push_back(record.requested_block);
                if (record.end_known == 0) ++run.requests_before_the_end;
                load_block(source, record.requested_block, &block, &record);
            } else if (result != DECODE_GOTHEADER && result != DECODE_WINSTART && result != DECODE_WINFINISH) {
                run.result = result;
                break;
            }
        }
    }
    if (run.result == 0) run.result = end_stream(&stream);
    run.last_block_number = record.last_block_number;
    run.last_block_length = record.last_block_length;
    run.end_known = record.end_known;
    if (run.result != 0 && stream.message != nullptr) run.message = stream.message;
    release_stream(&stream);
    return run;
}

Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes one(const WindowSpec& window) { return patch_bytes({window}); }

Bytes header(const Bytes& rest) { return concat({0xD6, 0xC3, 0xC4, 0x00}, rest); }

// One window built by `build` over a copy window of `copy_length` bytes, announcing
// `target_length` bytes, without a checksum; `data_cut` bytes dropped from its data.
Bytes encoded(u64 copy_length, u64 target_length, const std::function<void(InstructionEncoder*)>& build,
              std::size_t data_cut = 0, u64 copy_offset = 0) {
    InstructionEncoder enc;
    encoder_start(&enc, copy_length);
    build(&enc);
    WindowSpec w = window_from_encoder(&enc, copy_length != 0 ? VCD_SOURCE : 0, copy_length, copy_offset);
    w.target_length = target_length;
    w.data.resize(w.data.size() - data_cut);
    return patch_bytes({w});
}

// A window adding `add` but announcing 3 bytes, checked against `checksum`, with extra
// data and address bytes.
Bytes completion(const Bytes& add, std::size_t extra_data, std::size_t extra_address, std::uint32_t checksum) {
    const std::uint8_t add_opcode = static_cast<std::uint8_t>(add.size() + 1);
    return one({.indicator = VCD_CHECKSUM, .target_length = 3, .checksum = checksum,
                .data = concat(add, Bytes(extra_data, 'z')), .instructions = {add_opcode},
                .addresses = Bytes(extra_address, 0)});
}

// Four windows with an application header: source COPYs across blocks and up to the
// source's last byte, a data section larger than a chunk, RUNs, target COPYs that
// overlap their own output, near and same cache modes, paired opcodes and non-shortest
// fields. `target` receives the target worked out from the instructions.
Bytes sample_patch(Bytes* target) {
    std::vector<WindowSpec> windows;
    for (int w = 0; w < 4; ++w) {
        InstructionEncoder enc;
        const u64 copy_window = w == 1 ? 0 : w == 3 ? 34000 : 40000;
        encoder_start(&enc, copy_window);
        if (w == 1) {
            encode_add(&enc, random_bytes(10, 2));
            encode_copy(&enc, 2, 4, COPY_MODE_NEAR0);   // the cache starts empty in each window
            encode_add(&enc, random_bytes(40000, 1));
            for (u64 address : {10u, 20u, 30u, 40u, 50u, 778u}) encode_copy(&enc, address, 4, COPY_MODE_SELF);
            encode_copy(&enc, 55, 4, COPY_MODE_NEAR0);        // slot 0 now holds 50
            encode_copy(&enc, 790, 4, COPY_MODE_NEAR0 + 1);   // slot 1 holds 778
            encode_copy(&enc, 778, 4, COPY_MODE_SAME0);       // slot 10 holds 778, not 10
            for (u64 distance : {1u, 3u, 7u}) encode_copy(&enc, enc.position - distance, 1000, COPY_MODE_SELF);
        } else {
            encode_copy(&enc, 16383 % copy_window, copy_window - 16383 % copy_window);   // to the window's end
            encode_copy(&enc, 5, w == 3 ? 379 : 8);   // back to block 0 (in window 3, up to its last byte)
        }
        encode_add(&enc, random_bytes(3, static_cast<unsigned>(w)));
        encode_copy(&enc, enc.position - 3, 30, COPY_MODE_HERE);
        encode_run(&enc, 0xEE, 1000);
        encode_add(&enc, {1, 2});
        encode_copy(&enc, enc.copy_window_length, 5);   // from the target's first byte
        Bytes piece;
        windows.push_back(checked_window(&enc, SOURCE, w == 3 ? 16000 : 20 * static_cast<u64>(w), &piece));
        *target = concat(*target, piece);
    }
    windows.back().copy_offset_pad = 2;   // not counted in the encoding length
    windows.back().encoding_length_pad = 1;
    FileHeaderSpec file;
    file.indicator = VCD_APPHEADER;
    file.app_header = {'a', 'p', 'p'};
    return patch_bytes(windows, file);
}

struct PatchCase {
    const char* name;
    Bytes patch;
    int code;
    const char* message;
    bool with_source = true;
    Bytes output = {};   // what came out, before the failure if there is one
};

std::vector<PatchCase> patch_cases() {
    // Section lengths whose sum wraps past 2^64 and so agrees with the encoding length.
    Bytes wrapping = concat(patch_bytes({}), {0});
    append_integer(&wrapping, 14 + U64_MAX + 2);   // 14 header bytes, data, 2 instruction bytes
    wrapping = concat(wrapping, {0, 0, 0x81, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 2, 0, 1, 2, 3});
    // Sections adding up to exactly 2^64 - 1, which does not wrap.
    Bytes at_the_limit = concat(patch_bytes({}), {0});
    append_integer(&at_the_limit, 14 + U64_MAX);   // 14 header bytes, no data, the rest instructions and addresses
    at_the_limit = concat(at_the_limit, {0, 0, 0});
    append_integer(&at_the_limit, U64_MAX - 1);
    at_the_limit = concat(at_the_limit, {1, 1, 2, 3});
    // A data section so close to 2^64 that rounding it up to the allocation granule would wrap.
    Bytes rest{0, 0};
    append_integer(&rest, U64_MAX - 5);
    rest = concat(rest, {0, 0});
    Bytes huge_data = concat(patch_bytes({}), {0});
    append_integer(&huge_data, rest.size() + (U64_MAX - 5));   // the sum wraps as the decoder's does
    huge_data = concat(concat(huge_data, rest), {1, 2, 3});
    InstructionEncoder enc;
    encoder_start(&enc, 4);
    encode_copy(&enc, 1, 3);
    WindowSpec padded_target = checked_window(&enc, SOURCE);
    padded_target.target_length_pad = 1;
    WindowSpec wrong_length = checked_window(&enc, SOURCE);
    wrong_length.encoding_length = 100;
    Bytes max_size{1};   // after the ADD of one byte, an ADD whose size is 2^64-1
    append_integer(&max_size, U64_MAX);
    Bytes padded_size{1};   // after the ADD of one byte, an ADD whose size follows eight empty groups
    append_integer(&padded_size, 1, 8);
    auto one_add_then = [](const Bytes& more) {
        return one({.target_length = 2, .data = {7}, .instructions = concat({2}, more)});
    };
    const Bytes abc{'a', 'b', 'c'};
    const std::uint32_t good = reference_adler32(abc);
    const int BAD = DECODE_INVALID_INPUT;
    return {
        {"magic", {0xD6, 0xC3, 0x44, 0x00}, BAD, "not a VCDIFF input"},
        {"version", {0xD6, 0xC3, 0xC4, 0x01}, BAD, "VCDIFF input version > 0 is not supported"},
        {"header indicator", header({0x08}), BAD, "unrecognized header indicator bits set"},
        {"djw", header({0x01, 1}), DECODE_INTERNAL, "unavailable secondary compressor: DJW Static Huffman"},
        {"lzma", header({0x01, 2}), DECODE_INTERNAL, "unavailable secondary compressor: LZMA"},
        {"fgk", header({0x01, 16}), DECODE_INTERNAL, "unavailable secondary compressor: FGK Adaptive Huffman"},
        {"unknown compressor", header({0x01, 3}), BAD, "unknown secondary compressor ID"},
        {"code table size 2", header({0x02, 2}), 12, "invalid code table size"},
        {"code table", header({0x02, 3, 4, 3}), DECODE_UNIMPLEMENTED, "VCD_CODETABLE support was removed"},
        {"appheader 2^64-1", patch_bytes({}, {.indicator = VCD_APPHEADER, .app_header_length = U64_MAX}), BAD,
         "exceptional appheader size"},
        {"appheader 2^64-2", patch_bytes({}, {.indicator = VCD_APPHEADER, .app_header_length = U64_MAX - 1}), 12,
         "out of memory"},
        {"appheader 2^64", header(concat({VCD_APPHEADER}, TWO_POW_64)), BAD, "overflow in decode_integer"},
        {"window indicator", one({.indicator = 0x08}), BAD, "unrecognized window indicator bits set"},
        {"copy window offset", one({.indicator = VCD_SOURCE, .copy_length = 2, .copy_offset = U64_MAX - 1}), BAD,
         "decoder copy window overflows a file offset"},
        {"copy window up to 2^64 - 1", one({.indicator = VCD_SOURCE, .copy_length = 1, .copy_offset = U64_MAX - 1}), 0,
         ""},
        {"target window bounds", one({.indicator = VCD_TARGET, .copy_length = 1}), BAD,
         "VCD_TARGET window out of bounds"},
        {"target window wrap", one({.indicator = VCD_SOURCE, .copy_length = 2, .target_length = U64_MAX - 1}), BAD,
         "decoder target window overflows a usize_t"},
        {"exactly 64 MiB, an empty ADD last", encoded(0, u64{1} << 26, [](auto* e) {
             encode_run(e, 0x5A, u64{1} << 26), encode_add(e, {});
         }), 0, "", true, Bytes(u64{1} << 26, 0x5A)},
        {"64 MiB + 1", one({.target_length = 67108865}), BAD, "hard window size exceeded"},
        {"delta reserved bits", one({.delta_indicator = 0x08}), BAD, "unrecognized delta indicator bits set"},
        {"delta secondary bit", one({.delta_indicator = VCD_INSTCOMP}), BAD, "invalid delta indicator bits set"},
        {"source and target", one({.indicator = VCD_SOURCE | VCD_TARGET}), DECODE_UNIMPLEMENTED,
         "VCD_TARGET not implemented"},
        {"no source file", one({.indicator = VCD_SOURCE, .copy_length = 4}), BAD, "source input required", false},
        {"window integer 2^64", concat(patch_bytes({}), concat({0}, TWO_POW_64)), BAD, "overflow in decode_integer"},
        {"section lengths wrap", wrapping, DECODE_INTERNAL, "decoder section size overflow"},
        {"section lengths up to 2^64 - 1", at_the_limit, 12, "out of memory"},
        {"data section near 2^64", huge_data, 12, "out of memory"},
        {"padded target length", patch_bytes({padded_target}), BAD, "incorrect encoding length (redundent)"},
        {"encoding length", patch_bytes({wrong_length}), BAD, "incorrect encoding length (redundent)"},
        {"size 2^64-1", one_add_then(max_size), BAD, "size too large"},
        {"size 2^64", one_add_then(concat({1}, TWO_POW_64)), BAD, "overflow in read_intger"},
        {"size cut", one_add_then({1, 0x81}), BAD, "end-of-input in read_integer"},
        {"size after empty groups", one({.target_length = 2, .data = {7, 8}, .instructions = concat({2}, padded_size)}),
         0, "", true, {7, 8}},
        {"ADD short of data", encoded(0, 3, [](auto* e) { encode_add(e, {1, 2, 3}); }, 1), BAD, "data underflow"},
        {"RUN without its byte", encoded(0, 4, [](auto* e) { encode_run(e, 9, 4); }, 1), BAD, "data underflow"},
        {"copy before any output", encoded(0, 1, [](auto* e) { encode_copy(e, 0, 1, COPY_MODE_SELF); }), BAD,
         "address too large"},
        {"copy at the write position",
         encoded(0, 2, [](auto* e) { encode_add(e, {1}); encode_copy(e, 1, 1, COPY_MODE_SELF); }), BAD,
         "address too large"},
        {"copy past the target length",
         encoded(0, 3, [](auto* e) { encode_add(e, {1, 2}); encode_copy(e, 1, 2, COPY_MODE_HERE); }), BAD,
         "size too large"},
        {"ADD past the target length", encoded(0, 2, [](auto* e) { encode_add(e, {1, 2, 3}); }), BAD, "size too large"},
        {"copy size near 2^64", encoded(0, 2, [](auto* e) { encode_add(e, {1}); encode_copy(e, 0, U64_MAX); }), BAD,
         "size too large"},
        {"source copy into the target", encoded(4, 4, [](auto* e) { encode_copy(e, 2, 4, COPY_MODE_SELF); }), BAD,
         "size too large"},
        {"source too short", encoded(101, 101, [](auto* e) { encode_copy(e, 0, 101); }, 0, SOURCE.size() - 100), BAD,
         "source file too short"},
        // Completion checks run in this order: length, extra data, extra addresses, checksum.
        {"wrong window length", completion({'a', 'b'}, 1, 1, good + 1), BAD, "wrong window length"},
        {"extra data", completion(abc, 1, 1, good + 1), BAD, "extra data section"},
        {"extra addresses", completion(abc, 0, 1, good + 1), BAD, "extra address section"},
        {"checksum", completion(abc, 0, 0, good + 1), DECODE_CHECKSUM_MISMATCH, "target window checksum mismatch"},
        {"all complete", completion(abc, 0, 0, good), 0, "", true, abc},
    };
}

TEST(Decoder, PatchesEndWithTheirCodeMessageAndOutput) {
    for (const PatchCase& c : patch_cases()) {
        CountingAllocator allocator;
        const DecodeRun run = decode(c.patch, c.with_source ? &SOURCE : nullptr, 16384, &allocator);
        EXPECT_EQ(run.result, c.code) << c.name;
        EXPECT_EQ(run.message, c.message) << c.name;
        EXPECT_TRUE(run.output == c.output) << c.name;
        EXPECT_TRUE(allocator.live.empty()) << c.name;
    }
}

TEST(Decoder, DefaultCodeTableMatchesTheOpcodeRanges) {
    for (int op = 0; op < 256; ++op) {
        const OpcodeEntry e = default_opcode_entry(static_cast<std::uint8_t>(op));
        const CodeTableEntry& t = default_code_table()[op];
        EXPECT_TRUE(t.type1 == e.type1 && t.size1 == e.size1 && t.type2 == e.type2 && t.size2 == e.size2) << op;
    }
}

TEST(Decoder, WholeSixteenKibiByteChunksAndSingleBytesAgree) {
    Bytes target;
    const Bytes patch = sample_patch(&target);
    CountingAllocator allocator;
    const DecodeRun whole = decode(patch, &SOURCE, patch.size(), &allocator);
    ASSERT_TRUE(whole.result == 0 && whole.output == target) << whole.message;
    EXPECT_EQ(whole.requests, (std::vector<u64>{1, 2, 0, 1, 2, 0, 1, 2, 3, 0}));
    // The header comes with the first window's start, every later window starts on its own.
    EXPECT_TRUE(whole.events.front() == DECODE_GOTHEADER &&
                std::count(whole.events.begin(), whole.events.end(), DECODE_GOTHEADER) == 1 &&
                std::count(whole.events.begin(), whole.events.end(), DECODE_WINSTART) == 3);
    // Block 3 holds the source's last 848 bytes: the end is known once it is read, and block 0, read
    // after it, changes nothing of this.
    EXPECT_TRUE(whole.last_block_number == 3 && whole.last_block_length == 848 && whole.end_known == 1 &&
                whole.requests_before_the_end == 9);
    for (std::size_t chunk : {16384u, 1u}) {
        const DecodeRun run = decode(patch, &SOURCE, chunk, &allocator);
        EXPECT_TRUE(run.result == 0 && run.output == whole.output && run.events == whole.events &&
                    run.requests == whole.requests)
            << "chunks of " << chunk << ": " << run.message;
    }
}

// Windows of exactly the output buffer's granule: every one after the first reuses its buffer.
TEST(Decoder, AWindowThatFitsTheOutputBufferTakesNoNewOne) {
    const auto patch_of = [](int count) {
        std::vector<WindowSpec> windows;
        for (int w = 0; w < count; ++w) {
            InstructionEncoder enc;
            encoder_start(&enc, 0);
            encode_run(&enc, 0x5A, SECTION_BUFFER_GRANULE);
            windows.push_back(checked_window(&enc));
        }
        return patch_bytes(windows);
    };
    CountingAllocator one, three;
    ASSERT_EQ(decode(patch_of(1), nullptr, 16384, &one).result, 0);
    const DecodeRun run = decode(patch_of(3), nullptr, 16384, &three);
    EXPECT_TRUE(run.result == 0 && run.output == Bytes(3 * SECTION_BUFFER_GRANULE, 0x5A)) << run.message;
    EXPECT_EQ(three.allocations, one.allocations);
}

TEST(Decoder, EveryFailedAllocationIsOutOfMemoryWithoutLeaks) {
    Bytes target;
    const Bytes patch = sample_patch(&target);
    for (std::size_t chunk : {std::size_t{1000}, patch.size()}) {
        CountingAllocator clean;
        ASSERT_TRUE(decode(patch, &SOURCE, chunk, &clean).result == 0 && clean.allocations >= 4);
        for (u64 k = 1; k <= clean.allocations; ++k) {
            CountingAllocator failing;
            failing.fail_at = k;
            const DecodeRun run = decode(patch, &SOURCE, chunk, &failing);
            EXPECT_TRUE(run.result == 12 && run.message == "out of memory" && failing.live.empty())
                << "allocation " << k << " failed, chunks of " << chunk << ": " << run.result << " " << run.message;
        }
    }
    // The default allocator refuses a size past 2^64 rather than allocate what is left of it.
    EXPECT_EQ(default_allocate(nullptr, U64_MAX / 8 + 2, 8), nullptr);
}

}  // namespace
