// Patches from the shared writer, and a decoding loop that answers block requests
// the way the patch driver does.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "patch_reference.h"
#include "vcdiff/decoder.h"

namespace decoder_test {

// The patch driver's configuration.
inline DecodeConfig driver_config() {
    DecodeConfig config{};
    config.window_size = 16384;
    config.flags = 0x400;
    return config;
}

struct DecodeOptions {
    std::size_t chunk_size = 16384;
    const Bytes* source = nullptr;   // attached when set, block 0 loaded beforehand
    DecodeConfig config = driver_config();
};

struct DecodeRun {
    int result = 0;              // the failure, or end_stream's result
    std::string message;
    Bytes output;
    std::vector<int> events;     // every result but DECODE_INPUT, in order
    std::vector<u64> requests;   // requested blocks, in order
};

inline void load_block(const Bytes& source, u64 number, Bytes& block, DecodeSource& record) {
    const u64 start = number * record.block_size;
    const u64 length = start >= source.size() ? 0 : std::min<u64>(record.block_size, source.size() - start);
    if (length != 0) std::memcpy(block.data(), source.data() + start, static_cast<std::size_t>(length));
    record.current_block = block.data();
    record.current_block_length = length;
    record.current_block_number = number;
}

// Feeds `patch` in chunks; `stream` is left configured for the caller to inspect and release.
inline DecodeRun decode_with(DecodeStream& stream, const Bytes& patch, const DecodeOptions& options) {
    DecodeRun run;
    std::memset(&stream, 0, sizeof stream);
    run.result = configure_stream(&stream, &options.config);
    DecodeSource source{};
    source.block_size = 16384;
    Bytes block(source.block_size);
    if (run.result == 0 && options.source != nullptr) {
        load_block(*options.source, 0, block, source);
        attach_source(&stream, &source);
    }
    for (std::size_t offset = 0; run.result == 0 && offset < patch.size();) {
        const std::size_t length = std::min(options.chunk_size, patch.size() - offset);
        stream.input_next = patch.data() + offset;
        stream.input_avail = length;
        offset += length;
        for (int result = decode_step(&stream); result != DECODE_INPUT; result = decode_step(&stream)) {
            run.events.push_back(result);
            if (result == DECODE_OUTPUT) {
                run.output.insert(run.output.end(), stream.output_next, stream.output_next + stream.output_avail);
                stream.output_avail = 0;
            } else if (result == DECODE_GETSRCBLK) {
                run.requests.push_back(source.requested_block);
                load_block(*options.source, source.requested_block, block, source);
            } else if (result != DECODE_GOTHEADER && result != DECODE_WINSTART && result != DECODE_WINFINISH) {
                run.result = result;
                break;
            }
        }
    }
    if (run.result == 0) run.result = end_stream(&stream);
    run.message = stream.message != nullptr ? stream.message : "";
    stream.source = nullptr;   // the record dies here
    return run;
}

inline DecodeRun decode(const Bytes& patch, const DecodeOptions& options = {}) {
    DecodeStream stream;
    DecodeRun run = decode_with(stream, patch, options);
    release_stream(&stream);
    return run;
}

}  // namespace decoder_test
