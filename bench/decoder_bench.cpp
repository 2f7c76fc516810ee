// In-memory decoding throughput, in bytes of target per second, for the kinds of
// window a real patch holds. Source blocks are served by pointing into memory, so
// the figures are the decoder's alone.
#include <benchmark/benchmark.h>

#include <random>

#include "patch_reference.h"
#include "vcdiff/adler32.h"
#include "vcdiff/decoder.h"

namespace {

constexpr std::uint64_t WINDOW_SIZE = 8u << 20;
constexpr int WINDOW_COUNT = 4;
constexpr std::uint64_t BLOCK_SIZE = 16384;

const Bytes& bench_source() {
    static const Bytes source = random_bytes(WINDOW_SIZE, 1);
    return source;
}

enum class Kind { COPIES, ADDS, RUNS };

// WINDOW_COUNT windows of 8 MiB. Copies: runs of 1 to 64 KiB from the source with a
// small edit between them, as a translation patch mostly is.
Bytes make_patch(Kind kind, std::uint64_t* target_total) {
    const Bytes& source = bench_source();
    std::mt19937 generator(2);
    Bytes patch;
    PatchSink sink = sink_to_bytes(&patch);
    write_file_header(&sink, FileHeaderSpec{});
    *target_total = 0;
    for (int w = 0; w < WINDOW_COUNT; ++w) {
        InstructionEncoder enc;
        enc.keep_ops = true;
        const std::uint64_t copy_length = kind == Kind::COPIES ? source.size() : 0;
        encoder_start(&enc, copy_length);
        while (encoder_target_size(enc) < WINDOW_SIZE) {
            const std::uint64_t left = WINDOW_SIZE - encoder_target_size(enc);
            if (kind == Kind::COPIES) {
                std::uint64_t size = 1024 + generator() % 65536;
                if (size > left) size = left;
                const std::uint64_t address = generator() % (copy_length - size);
                encode_copy(&enc, address, size);
                if (left > size + 8) encode_add(&enc, random_bytes(8, static_cast<unsigned>(generator())));
            } else if (kind == Kind::ADDS) {
                const std::uint64_t size = left < 1024 ? left : 1024;
                encode_add(&enc, random_bytes(size, static_cast<unsigned>(generator())));
            } else {
                std::uint64_t size = 1 + generator() % 256;
                if (size > left) size = left;
                encode_run(&enc, static_cast<std::uint8_t>(generator()), size);
            }
        }
        encoder_finish(&enc);
        const auto target = reference_window_target(source, 0, copy_length, enc.ops);
        write_window(&sink, window_from_encoder(&enc, copy_length != 0 ? VCD_SOURCE : 0, copy_length, 0, &*target));
        *target_total += target->size();
    }
    return patch;
}

// Decodes the whole patch, fed `chunk` bytes per call; returns target bytes.
std::uint64_t decode_all(const Bytes& patch, std::uint64_t chunk, std::uint32_t flags) {
    const Bytes& source = bench_source();
    DecodeStream stream{};
    DecodeConfig config{};
    config.flags = flags;
    configure_stream(&stream, &config);
    DecodeSource record{};
    record.block_size = BLOCK_SIZE;
    record.current_block = source.data();
    record.current_block_length = BLOCK_SIZE;
    attach_source(&stream, &record);
    std::uint64_t produced = 0;
    std::uint64_t fed = 0;
    bool failed = false;
    while (fed < patch.size() && !failed) {
        const std::uint64_t n = patch.size() - fed < chunk ? patch.size() - fed : chunk;
        stream.input_next = patch.data() + fed;
        stream.input_avail = n;
        fed += n;
        for (;;) {
            const int r = decode_step(&stream);
            if (r == DECODE_INPUT) break;
            if (r == DECODE_GETSRCBLK) {
                const std::uint64_t offset = record.requested_block * BLOCK_SIZE;
                record.current_block = source.data() + offset;
                record.current_block_length = source.size() - offset < BLOCK_SIZE ? source.size() - offset : BLOCK_SIZE;
                record.current_block_number = record.requested_block;
            } else if (r == DECODE_OUTPUT) {
                benchmark::DoNotOptimize(stream.output_next);
                produced += stream.output_avail;
                stream.output_avail = 0;
            } else if (r != DECODE_GOTHEADER && r != DECODE_WINSTART && r != DECODE_WINFINISH) {
                failed = true;
                break;
            }
        }
    }
    release_stream(&stream);
    return failed ? 0 : produced;
}

void run(benchmark::State& state, Kind kind, std::uint64_t chunk, std::uint32_t flags) {
    std::uint64_t total = 0;
    const Bytes patch = make_patch(kind, &total);
    for (auto _ : state) {
        if (decode_all(patch, chunk, flags) != total) {
            state.SkipWithError("decoding failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(total));
}

void copies_checksummed(benchmark::State& state) { run(state, Kind::COPIES, 16384, DECODE_FLAG_CHECKSUMS); }
void copies_unchecked(benchmark::State& state) {
    run(state, Kind::COPIES, 16384, DECODE_FLAG_CHECKSUMS | DECODE_FLAG_SKIP_CHECKSUM);
}
void adds(benchmark::State& state) { run(state, Kind::ADDS, 16384, DECODE_FLAG_CHECKSUMS); }
void runs(benchmark::State& state) { run(state, Kind::RUNS, 16384, DECODE_FLAG_CHECKSUMS); }
void copies_one_byte_per_call(benchmark::State& state) { run(state, Kind::COPIES, 1, DECODE_FLAG_CHECKSUMS); }

// The window checksum by itself, over one 8 MiB window: the kernel adler32() picks,
// then each kernel.
void checksum(benchmark::State& state, Adler32Function function) {
    const Bytes& window = bench_source();
    for (auto _ : state) benchmark::DoNotOptimize(function(1, window.data(), window.size()));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(window.size()));
}
void adler32_alone(benchmark::State& state) { checksum(state, adler32); }
void adler32_portable_kernel(benchmark::State& state) { checksum(state, adler32_portable); }
#ifdef ORV_ADLER32_SSE2
void adler32_sse2_kernel(benchmark::State& state) { checksum(state, adler32_sse2); }
BENCHMARK(adler32_sse2_kernel)->Unit(benchmark::kMillisecond);
#endif
#ifdef ORV_ADLER32_AVX2
void adler32_avx2_kernel(benchmark::State& state) {
    if (!adler32_avx2_usable()) return state.SkipWithError("no AVX2 here");
    checksum(state, adler32_avx2);
}
BENCHMARK(adler32_avx2_kernel)->Unit(benchmark::kMillisecond);
#endif
BENCHMARK(adler32_portable_kernel)->Unit(benchmark::kMillisecond);

BENCHMARK(copies_checksummed)->Unit(benchmark::kMillisecond);
BENCHMARK(copies_unchecked)->Unit(benchmark::kMillisecond);
BENCHMARK(adds)->Unit(benchmark::kMillisecond);
BENCHMARK(runs)->Unit(benchmark::kMillisecond);
BENCHMARK(copies_one_byte_per_call)->Unit(benchmark::kMillisecond);
BENCHMARK(adler32_alone)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
