#include "fuzz_decoder_entry.h"

#include <cstdlib>
#include <vector>

#include "patch_reference.h"
#include "vcdiff/decoder.h"

namespace {

constexpr std::uint64_t MAX_SOURCE_SIZE = 40000;
constexpr std::uint64_t STEPS_PER_INPUT_BYTE = 64;
constexpr std::uint64_t STEPS_BASE = 4096;
// Above any buffer a well-formed patch needs (a 64 MiB window rounded up), below
// what a patch merely announcing a huge length would make the sanitizers map.
constexpr std::uint64_t ALLOCATION_LIMIT = 80u << 20;

void* limited_allocate(void*, u64 count, u64 element_size) {
    if (element_size != 0 && count > ALLOCATION_LIMIT / element_size) return nullptr;
    return std::malloc(static_cast<std::size_t>(count * element_size));
}

void limited_release(void*, void* pointer) { std::free(pointer); }

std::uint32_t lcg_next(std::uint32_t* state) {
    *state = *state * 1664525u + 1013904223u;
    return *state >> 8;
}

void load_block(DecodeSource* source, const std::vector<std::uint8_t>& bytes) {
    const std::uint64_t block = source->requested_block;
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

bool window_output_is_sound(const DecodeStream& stream) {
    if (stream.output_avail != stream.target_length) return false;
    const bool verified =
        (stream.window_indicator & VCD_CHECKSUM) != 0 && (stream.flags & DECODE_FLAG_SKIP_CHECKSUM) == 0;
    const auto length = static_cast<std::size_t>(stream.output_avail);
    return !verified || reference_adler32(stream.output_next, length) == stream.expected_adler32;
}

}  // namespace

int run_decoder_fuzz_input(const std::uint8_t* data, std::size_t size, FuzzDecoded* decoded) {
    if (size < FUZZ_CONTROL_BYTES) return 0;
    const std::uint64_t source_size = (data[0] | (std::uint64_t{data[1]} << 8)) % MAX_SOURCE_SIZE;
    std::uint32_t content = data[2];
    std::vector<std::uint8_t> source_bytes(source_size);
    for (auto& b : source_bytes) b = static_cast<std::uint8_t>(lcg_next(&content));
    std::uint32_t chunking = data[4] * 2654435761u;
    const std::uint64_t chunk_limit = 4 * std::uint64_t{data[4]};

    DecodeStream stream{};
    DecodeConfig config{};
    config.allocate = limited_allocate;
    config.release = limited_release;
    config.flags = DECODE_FLAG_CHECKSUMS | ((data[3] & 0x80) != 0 ? DECODE_FLAG_SKIP_CHECKSUM : 0);
    if (configure_stream(&stream, &config) != 0) return 1;
    DecodeSource source{};
    source.block_size = std::uint64_t{1} << (4 + (data[3] & 0x7F) % 11);
    source.requested_block = 0;
    load_block(&source, source_bytes);
    attach_source(&stream, &source);

    const std::uint8_t* patch = data + FUZZ_CONTROL_BYTES;
    const std::uint64_t patch_size = size - FUZZ_CONTROL_BYTES;
    std::uint64_t fed = 0;
    std::uint64_t steps_left = STEPS_BASE + STEPS_PER_INPUT_BYTE * size;
    int verdict = 0;
    bool failed = false;
    while (fed < patch_size && !failed && verdict == 0) {
        std::uint64_t chunk = patch_size - fed;
        if (chunk_limit != 0) {
            const std::uint64_t wanted = 1 + lcg_next(&chunking) % chunk_limit;
            if (wanted < chunk) chunk = wanted;
        }
        stream.input_next = patch + fed;
        stream.input_avail = chunk;
        fed += chunk;
        for (;;) {
            if (steps_left-- == 0) {
                failed = true;   // enough work for this input
                break;
            }
            const int result = decode_step(&stream);
            if (result == DECODE_INPUT) break;
            if (result == DECODE_GOTHEADER || result == DECODE_WINSTART || result == DECODE_WINFINISH) continue;
            if (result == DECODE_GETSRCBLK) {
                // Asking again for the block it holds would make the caller load it forever.
                if (source.requested_block == source.current_block_number) {
                    verdict = 5;
                    break;
                }
                load_block(&source, source_bytes);
                continue;
            }
            if (result == DECODE_OUTPUT) {
                if (!window_output_is_sound(stream)) verdict = 2;
                if (decoded != nullptr) {
                    decoded->output.insert(decoded->output.end(), stream.output_next,
                                           stream.output_next + stream.output_avail);
                }
                stream.output_avail = 0;
                if (verdict != 0) break;
                continue;
            }
            if (result == 0) verdict = 3;
            else if (stream.message == nullptr) verdict = 4;
            failed = true;
            break;
        }
    }
    if (!failed && verdict == 0) {
        const int ended = end_stream(&stream);
        if (ended != 0 && stream.message == nullptr) verdict = 4;
        if (decoded != nullptr) decoded->complete = ended == 0;
    }
    release_stream(&stream);
    return verdict;
}
