#include "fuzz_decoder_entry.h"

#include <vector>

#include "patch_reference.h"
#include "vcdiff/adler32.h"
#include "vcdiff/decoder.h"

namespace {

constexpr std::uint64_t MAX_SOURCE_SIZE = 40000;
constexpr std::uint64_t STEPS_PER_INPUT_BYTE = 64;
constexpr std::uint64_t STEPS_BASE = 4096;
// Above any buffer a well-formed patch needs (a 64 MiB window rounded up), below
// what a patch merely announcing a huge length would make the sanitizers map.
constexpr std::uint64_t ALLOCATION_LIMIT = 80u << 20;
constexpr std::size_t SHAPE_BYTES = 10;
// The kernels are compared on windows up to this size: enough for their long runs and
// tails, while the 64 MiB windows a few bytes of patch can ask for would slow the fuzzing.
constexpr std::uint64_t KERNEL_CHECK_LIMIT = 1u << 16;
constexpr std::uint32_t SECONDARY_ROWS[8] = {
    0,
    DECODE_FLAG_SECONDARY_DATA,
    DECODE_FLAG_SECONDARY_DJW,
    DECODE_FLAG_SECONDARY_FGK,
    DECODE_FLAG_SECONDARY_LZMA | DECODE_FLAG_SECONDARY_INSTRUCTIONS,
    DECODE_FLAG_SECONDARY_DJW | DECODE_FLAG_SECONDARY_FGK,
    DECODE_FLAG_SECONDARY_FGK | DECODE_FLAG_SECONDARY_LZMA | DECODE_FLAG_SECONDARY_ADDRESSES,
    DECODE_FLAG_SECONDARY_DJW | DECODE_FLAG_SECONDARY_FGK | DECODE_FLAG_SECONDARY_LZMA,
};
constexpr u64 SPREVSZ[4] = {0, u64{1} << 16, 1000, 1};
constexpr u64 REFUSED_SPREVSZ = 1000;

enum Delivery { ANSWERED, CALLBACK, FORWARD_ONLY_CALLBACK, NO_SOURCE };

// The caller's side, reached by the callbacks through `opaque`.
struct Caller {
    std::vector<std::uint8_t> source;
    Delivery delivery = ANSWERED;
    std::uint64_t allocations = 0;
    std::uint64_t failing_allocation = 0;   // 0: none
    std::uint64_t furthest_block = 0;
};

void* limited_allocate(void* opaque, u64 count, u64 element_size) {
    auto* caller = static_cast<Caller*>(opaque);
    if (++caller->allocations == caller->failing_allocation) return nullptr;
    if (element_size != 0 && count > ALLOCATION_LIMIT / element_size) return nullptr;
    return default_allocate(nullptr, count, element_size);
}

void limited_release(void*, void* pointer) { default_release(nullptr, pointer); }

std::uint32_t lcg_next(std::uint32_t* state) {
    *state = *state * 1664525u + 1013904223u;
    return *state >> 8;
}

void load_block(DecodeSource* source, const std::vector<std::uint8_t>& bytes, std::uint64_t block) {
    const std::uint64_t size = bytes.size();
    source->current_block_number = block;
    static const std::uint8_t no_bytes = 0;   // an empty source still has a block, of length 0
    source->current_block = bytes.empty() ? &no_bytes : bytes.data();
    source->current_block_length = 0;
    if (block <= size / source->block_size) {
        const std::uint64_t offset = block * source->block_size;
        const std::uint64_t left = size - offset;
        source->current_block_length = left < source->block_size ? left : source->block_size;
        if (source->current_block_length != 0) source->current_block = bytes.data() + offset;
    }
}

int load_block_callback(DecodeStream* stream, DecodeSource* source, u64 block) {
    auto* caller = static_cast<Caller*>(stream->opaque);
    // A source read from a pipe: what has gone by cannot be read again.
    if (caller->delivery == FORWARD_ONLY_CALLBACK) {
        if (block < caller->furthest_block) return DECODE_TOOFARBACK;
        caller->furthest_block = block;
    }
    load_block(source, caller->source, block);
    return 0;
}

// Every kernel, not only the one this processor picked: the Windows build never
// runs the AVX2 one, and another processor may take the portable one whole.
bool kernels_agree(const std::uint8_t* bytes, u64 length, std::uint32_t expected) {
    bool agree = adler32_portable(1, bytes, length) == expected;
#ifdef ORV_ADLER32_SSE2
    agree = agree && adler32_sse2(1, bytes, length) == expected;
#endif
#ifdef ORV_ADLER32_AVX2
    agree = agree && (!adler32_avx2_usable() || adler32_avx2(1, bytes, length) == expected);
#endif
    return agree;
}

bool window_output_is_sound(const DecodeStream& stream) {
    if (stream.output_avail != stream.target_length) return false;
    const bool verified =
        (stream.window_indicator & VCD_CHECKSUM) != 0 && (stream.flags & DECODE_FLAG_SKIP_CHECKSUM) == 0;
    const bool compared = stream.output_avail <= KERNEL_CHECK_LIMIT;
    if (!verified && !compared) return true;
    const auto length = static_cast<std::size_t>(stream.output_avail);
    const std::uint32_t actual = reference_adler32(stream.output_next, length);
    return (!verified || actual == stream.expected_adler32) &&
           (!compared || kernels_agree(stream.output_next, length, actual));
}

// Before decoding: builds a table from the shape that follows the control bytes. False
// when it wrote past the table: the surplus of a larger shape has no opcode.
bool build_fuzzed_code_table(const std::uint8_t* shape_bytes) {
    // Below 32 each, which still overfills a table, so that a shape builds quickly.
    std::uint8_t s[SHAPE_BYTES];
    for (std::size_t i = 0; i < SHAPE_BYTES; ++i) s[i] = shape_bytes[i] & 31;
    const CodeTableShape shape{s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7], s[8], s[9]};
    // The table and one entry the build must leave alone; the sanitizers see any write further on.
    std::vector<CodeTableEntry> table(257, CodeTableEntry{0xFF, 0, 0, 0});
    build_code_table(&shape, table.data());
    return table[256].type1 == 0xFF;
}

// One decode in progress.
struct Run {
    DecodeStream stream{};
    DecodeSource source{};
    Caller caller;
    FuzzDecoded* decoded = nullptr;
    std::uint64_t steps_left = 0;
    int verdict = 0;
    bool stopped = false;   // the decoder failed, or this input had its share of work
};

// Configures the stream and attaches the source as control bytes 0 to 6 say. False
// when the configuration was refused (the verdict says whether it should have been).
bool set_up(Run* run, const std::uint8_t* data) {
    Caller& caller = run->caller;
    const std::uint8_t options = data[5];
    const std::uint8_t setup = data[6];
    caller.source.resize((data[0] | (std::uint64_t{data[1]} << 8)) % MAX_SOURCE_SIZE);
    std::uint32_t content = data[2];
    for (auto& b : caller.source) b = static_cast<std::uint8_t>(lcg_next(&content));
    caller.delivery = static_cast<Delivery>(options & 3);
    caller.failing_allocation = (options >> 3) & 7;

    DecodeConfig config{};
    config.sprevsz = SPREVSZ[(setup >> 2) & 3];
    config.getblk = caller.delivery == CALLBACK || caller.delivery == FORWARD_ONLY_CALLBACK ? load_block_callback : nullptr;
    config.allocate = limited_allocate;
    config.release = (options & 0x40) != 0 ? nullptr : limited_release;
    config.opaque = &caller;
    const std::uint32_t secondary = SECONDARY_ROWS[(setup >> 4) & 7];
    config.flags = DECODE_FLAG_CHECKSUMS | ((data[3] & 0x80) != 0 ? DECODE_FLAG_SKIP_CHECKSUM : 0) | secondary;
    const bool refused = secondary != 0 || config.sprevsz == REFUSED_SPREVSZ;
    const int configured = configure_stream(&run->stream, &config);
    if (configured != 0 || refused) {
        if (configured != (refused ? DECODE_INTERNAL : 0) || run->stream.message == nullptr) run->verdict = 1;
        return false;
    }

    const u64 power = u64{1} << (4 + (data[3] & 0x7F) % 11);
    const u64 block_sizes[4] = {power, power - 1, 0, (u64{1} << 63) + 1};
    run->source.block_size = block_sizes[setup & 3];
    if (caller.delivery != NO_SOURCE) {
        attach_source(&run->stream, &run->source);
        if ((options & 4) == 0) load_block(&run->source, caller.source, 0);
    }
    return true;
}

// Answers decode_step until it asks for more input, fails or breaks a promise.
void decode_chunk(Run* run) {
    DecodeStream& stream = run->stream;
    for (;;) {
        if (run->steps_left-- == 0) {
            run->stopped = true;
            return;
        }
        stream.message = nullptr;   // so that a failure without its own message shows
        const int result = decode_step(&stream);
        if (result == 0 || decode_result_name(result) == nullptr) {
            run->verdict = 3;
            return;
        }
        if (result == DECODE_INPUT) return;
        if (result == DECODE_GOTHEADER || result == DECODE_WINSTART || result == DECODE_WINFINISH) continue;
        if (result == DECODE_GETSRCBLK) {
            // Only a caller without a callback is asked, and never for the block it holds.
            const DecodeSource& source = run->source;
            if (run->caller.delivery != ANSWERED ||
                (source.current_block != nullptr && source.requested_block == source.current_block_number)) {
                run->verdict = 5;
                return;
            }
            load_block(&run->source, run->caller.source, source.requested_block);
            continue;
        }
        if (result == DECODE_OUTPUT) {
            if (!window_output_is_sound(stream)) run->verdict = 2;
            if (run->decoded != nullptr) {
                run->decoded->output.insert(run->decoded->output.end(), stream.output_next,
                                            stream.output_next + stream.output_avail);
            }
            stream.output_avail = 0;
            if (run->verdict != 0) return;
            continue;
        }
        if (stream.message == nullptr) run->verdict = 4;
        run->stopped = true;
        return;
    }
}

}  // namespace

int run_decoder_fuzz_input(const std::uint8_t* data, std::size_t size, FuzzDecoded* decoded) {
    if (size < FUZZ_CONTROL_BYTES) return 0;
    const bool shaped = (data[6] & 0x80) != 0;
    const std::size_t control_size = FUZZ_CONTROL_BYTES + (shaped ? SHAPE_BYTES : 0);
    if (size < control_size) return 0;
    if (shaped && !build_fuzzed_code_table(data + FUZZ_CONTROL_BYTES)) return 6;

    Run run;
    run.decoded = decoded;
    run.steps_left = STEPS_BASE + STEPS_PER_INPUT_BYTE * size;
    if (set_up(&run, data)) {
        const std::uint8_t* patch = data + control_size;
        const std::uint64_t patch_size = size - control_size;
        std::uint32_t chunking = data[4] * 2654435761u;
        const std::uint64_t chunk_limit = 4 * std::uint64_t{data[4]};
        std::uint64_t fed = 0;
        while (fed < patch_size && !run.stopped && run.verdict == 0) {
            std::uint64_t chunk = patch_size - fed;
            if (chunk_limit != 0) {
                const std::uint64_t wanted = 1 + lcg_next(&chunking) % chunk_limit;
                if (wanted < chunk) chunk = wanted;
            }
            run.stream.input_next = patch + fed;
            run.stream.input_avail = chunk;
            fed += chunk;
            if (fed == patch_size) run.stream.flags |= DECODE_FLAG_LAST_INPUT;   // as the program's driver does
            decode_chunk(&run);
        }
        if (!run.stopped && run.verdict == 0) {
            run.stream.message = nullptr;
            const int ended = end_stream(&run.stream);
            if (ended != 0 && run.stream.message == nullptr) run.verdict = 4;
            if (decoded != nullptr) decoded->complete = ended == 0;
        }
    }
    release_stream(&run.stream);
    // A second release, as a caller's clean-up may do, finds nothing left to give back.
    release_stream(&run.stream);
    return run.verdict;
}
