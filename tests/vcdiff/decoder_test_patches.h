// Small hand-built patches and a decoding loop for the decoder's tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "vcdiff/decoder.h"

namespace decoder_test {

using Bytes = std::vector<std::uint8_t>;

// Shortest variable-length encoding, most significant group first.
inline void put_integer(Bytes& out, u64 value) {
    std::uint8_t groups[10];
    int count = 0;
    do {
        groups[count++] = static_cast<std::uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    while (count > 1) {
        out.push_back(static_cast<std::uint8_t>(groups[--count] | 0x80));
    }
    out.push_back(groups[0]);
}

inline Bytes integer_bytes(u64 value) {
    Bytes out;
    put_integer(out, value);
    return out;
}

inline void append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

// Adler-32 the slow way: both sums reduced after every byte.
inline std::uint32_t reference_adler32(const std::uint8_t* bytes, std::size_t length) {
    std::uint32_t s1 = 1;
    std::uint32_t s2 = 0;
    for (std::size_t i = 0; i < length; ++i) {
        s1 = (s1 + bytes[i]) % 65521;
        s2 = (s2 + s1) % 65521;
    }
    return (s2 << 16) | s1;
}

inline std::uint32_t reference_adler32(const Bytes& bytes) {
    return reference_adler32(bytes.data(), bytes.size());
}

// The three sections of a window, filled instruction by instruction with the default
// code table's single-instruction opcodes (size always in the instruction section).
struct Program {
    Bytes data;
    Bytes instructions;
    Bytes addresses;

    Program& add(const Bytes& bytes) {
        instructions.push_back(1);
        put_integer(instructions, bytes.size());
        append(data, bytes);
        return *this;
    }
    Program& run(u64 size, std::uint8_t byte) {
        instructions.push_back(0);
        put_integer(instructions, size);
        data.push_back(byte);
        return *this;
    }
    // COPY in `mode` with an explicit size; `address_value` as the mode encodes it.
    Program& copy(u64 mode, u64 size, u64 address_value) {
        instructions.push_back(static_cast<std::uint8_t>(19 + 16 * mode));
        put_integer(instructions, size);
        if (mode < 6) {
            put_integer(addresses, address_value);
        } else {
            addresses.push_back(static_cast<std::uint8_t>(address_value));
        }
        return *this;
    }
    Program& copy_self(u64 size, u64 address) { return copy(0, size, address); }
    Program& copy_here(u64 size, u64 back) { return copy(1, size, back); }
};

struct Window {
    std::uint8_t indicator = 0;        // VCD_SOURCE / VCD_TARGET; VCD_CHECKSUM added with `checksum`
    u64 copy_length = 0;
    u64 copy_offset = 0;
    u64 target_length = 0;
    std::uint8_t delta_indicator = 0;
    Program program;
    std::optional<std::uint32_t> checksum;
    std::optional<u64> encoding_length;   // override of the computed value
};

inline Bytes file_header(std::uint8_t indicator = 0) {
    return Bytes{0xD6, 0xC3, 0xC4, 0x00, indicator};
}

inline Bytes encode_window(const Window& window) {
    Bytes out;
    std::uint8_t indicator = window.indicator;
    if (window.checksum) {
        indicator |= VCD_CHECKSUM;
    }
    out.push_back(indicator);
    const u64 kind = indicator & (VCD_SOURCE | VCD_TARGET);
    if (kind == VCD_SOURCE || kind == VCD_TARGET) {
        put_integer(out, window.copy_length);
        put_integer(out, window.copy_offset);
    }
    Bytes rest;
    put_integer(rest, window.target_length);
    rest.push_back(window.delta_indicator);
    put_integer(rest, window.program.data.size());
    put_integer(rest, window.program.instructions.size());
    put_integer(rest, window.program.addresses.size());
    if (window.checksum) {
        const std::uint32_t c = *window.checksum;
        for (int shift = 24; shift >= 0; shift -= 8) {
            rest.push_back(static_cast<std::uint8_t>(c >> shift));
        }
    }
    append(rest, window.program.data);
    append(rest, window.program.instructions);
    append(rest, window.program.addresses);
    put_integer(out, window.encoding_length.value_or(rest.size()));
    append(out, rest);
    return out;
}

inline Bytes make_patch(const std::vector<Window>& windows, std::uint8_t header_indicator = 0) {
    Bytes out = file_header(header_indicator);
    for (const Window& window : windows) {
        append(out, encode_window(window));
    }
    return out;
}

// A window that produces `target` with the given program and carries its checksum.
inline Window checked_window(Program program, const Bytes& target, std::uint8_t indicator = 0,
                             u64 copy_length = 0, u64 copy_offset = 0) {
    Window window;
    window.indicator = indicator;
    window.copy_length = copy_length;
    window.copy_offset = copy_offset;
    window.target_length = target.size();
    window.program = std::move(program);
    window.checksum = reference_adler32(target);
    return window;
}

struct DecodeOptions {
    std::size_t chunk_size = 16384;
    const Bytes* source = nullptr;        // attached when not null
    u64 block_size = 16384;
    bool preload_first_block = true;      // as the patch driver does
    DecodeConfig config{};                // window_size/flags as the driver's by default
    bool reset_output_avail = true;
};

struct DecodeRun {
    int result = 0;                 // the failure, or end_stream's result
    std::string message;            // the stream's message after the run
    Bytes output;
    std::vector<int> events;        // every result but DECODE_INPUT, in order
    std::vector<u64> requests;      // requested blocks, in order
    std::size_t input_calls = 0;    // DECODE_INPUT results
    u64 input_total = 0;
    u64 output_total = 0;
    u64 windows_done = 0;
    DecodeState state = STATE_MAGIC;
};

// Loads block `number` of `source` into `block` the way the patch driver does.
inline void load_block(const Bytes& source, u64 block_size, u64 number, Bytes& block,
                       DecodeSource& record) {
    const u64 start = number * block_size;
    const u64 length = start >= source.size() ? 0 : std::min<u64>(block_size, source.size() - start);
    if (length != 0) {
        std::memcpy(block.data(), source.data() + start, static_cast<std::size_t>(length));
    }
    record.current_block = block.data();
    record.current_block_length = length;
    record.current_block_number = number;
}

// Feeds `patch` in chunks and answers every request like the patch driver. `stream`
// is left configured (not released) so that tests can look at it; pass a fresh one.
inline DecodeRun decode_with(DecodeStream& stream, const Bytes& patch, const DecodeOptions& options) {
    DecodeRun run;
    DecodeConfig config = options.config;
    if (config.window_size == 0 && config.flags == 0) {
        config.window_size = 16384;
        config.flags = 0x400;
    }
    std::memset(&stream, 0, sizeof stream);
    run.result = configure_stream(&stream, &config);
    if (run.result != 0) {
        run.message = stream.message != nullptr ? stream.message : "";
        return run;
    }
    DecodeSource source{};
    // Room for the block size after attach_source has rounded it up.
    Bytes block(options.block_size == 0 ? 1 : 2 * options.block_size);
    if (options.source != nullptr) {
        source.block_size = options.block_size;
        if (options.preload_first_block) {
            load_block(*options.source, options.block_size, 0, block, source);
        }
        attach_source(&stream, &source);
    }
    std::size_t offset = 0;
    bool failed = false;
    do {
        const std::size_t length = std::min(options.chunk_size, patch.size() - offset);
        stream.input_next = patch.data() + offset;
        stream.input_avail = length;
        offset += length;
        for (;;) {
            const int result = decode_step(&stream);
            if (result == DECODE_INPUT) {
                ++run.input_calls;
                break;
            }
            run.events.push_back(result);
            if (result == DECODE_OUTPUT) {
                if (stream.output_avail != 0) {
                    run.output.insert(run.output.end(), stream.output_next,
                                      stream.output_next + stream.output_avail);
                }
                if (options.reset_output_avail) {
                    stream.output_avail = 0;
                }
            } else if (result == DECODE_GETSRCBLK) {
                run.requests.push_back(source.requested_block);
                load_block(*options.source, source.block_size, source.requested_block, block, source);
            } else if (result != DECODE_GOTHEADER && result != DECODE_WINSTART &&
                       result != DECODE_WINFINISH) {
                run.result = result;
                failed = true;
                break;
            }
        }
    } while (!failed && offset < patch.size());
    if (!failed) {
        run.result = end_stream(&stream);
    }
    run.message = stream.message != nullptr ? stream.message : "";
    run.input_total = stream.input_total;
    run.output_total = stream.output_total;
    run.windows_done = stream.windows_done;
    run.state = stream.state;
    // The source record dies here: unlink it so that nobody follows a stale pointer.
    stream.source = nullptr;
    return run;
}

// Decodes and releases the stream.
inline DecodeRun decode(const Bytes& patch, const DecodeOptions& options = {}) {
    DecodeStream stream;
    DecodeRun run = decode_with(stream, patch, options);
    release_stream(&stream);
    return run;
}

}  // namespace decoder_test
