// Turns a window's sections into target bytes: output buffer, instruction decoding, the
// address cache and the execution of ADD, RUN and COPY.
#include <algorithm>
#include <cstring>
#include <limits>

#include "vcdiff/decoder.h"
#include "vcdiff/decoder_internal.h"

namespace {

constexpr u64 INTEGER_OVERFLOW_GUARD = u64{1} << 57;   // one more 7-bit group would not fit
constexpr u64 SAME_SLOTS_PER_MODE = 256;

u64 section_left(const SectionCursor& cursor) {
    return static_cast<u64>(cursor.end - cursor.next);
}

// Copies n bytes that start `distance` bytes behind the write position, with the result
// of a byte-by-byte forward copy: an overlapping copy repeats the pattern.
void copy_within_output(std::uint8_t* output, u64 from, u64 to, u64 n) {
    const u64 distance = to - from;
    if (distance >= n) {
        // memmove: only a caller that rewound output_avail mid-window could make these
        // overlap, and then it must still not be undefined.
        std::memmove(output + to, output + from, static_cast<std::size_t>(n));
        return;
    }
    if (distance == 1) {
        std::memset(output + to, output[from], static_cast<std::size_t>(n));
        return;
    }
    // The pattern is `distance` bytes long; each step copies whole periods already written
    // (the first `distance` bytes, then twice as many...), never overlapping its target.
    u64 written = 0;
    while (written < n) {
        const u64 take = std::min(n - written, distance + written);
        std::memcpy(output + to + written, output + from, static_cast<std::size_t>(take));
        written += take;
    }
}

}  // namespace

// ---- Address cache ----------------------------------------------------------------

int allocate_address_cache(DecodeStream* stream) {
    AddressCache* cache = &stream->address_cache;
    stream_release(stream, cache->near_slots);
    stream_release(stream, cache->same_slots);
    cache->near_slots = nullptr;
    cache->same_slots = nullptr;
    if (cache->near_count != 0) {
        cache->near_slots = static_cast<u64*>(stream_allocate(stream, cache->near_count, sizeof(u64)));
        if (cache->near_slots == nullptr) {
            return fail(stream, DECODE_OUT_OF_MEMORY, "out of memory");
        }
    }
    if (cache->same_count != 0) {
        cache->same_slots = static_cast<u64*>(
            stream_allocate(stream, cache->same_count * SAME_SLOTS_PER_MODE, sizeof(u64)));
        if (cache->same_slots == nullptr) {
            return fail(stream, DECODE_OUT_OF_MEMORY, "out of memory");
        }
    }
    return 0;
}

void reset_address_cache(DecodeStream* stream) {
    AddressCache* cache = &stream->address_cache;
    if (cache->near_slots != nullptr) {
        std::memset(cache->near_slots, 0, static_cast<std::size_t>(cache->near_count * sizeof(u64)));
    }
    if (cache->same_slots != nullptr) {
        std::memset(cache->same_slots, 0,
                    static_cast<std::size_t>(cache->same_count * SAME_SLOTS_PER_MODE * sizeof(u64)));
    }
    cache->next_near_slot = 0;
}

void update_address_cache(AddressCache* cache, u64 address) {
    if (cache->near_count > 0) {
        cache->near_slots[cache->next_near_slot] = address;
        cache->next_near_slot = (cache->next_near_slot + 1) % cache->near_count;
    }
    if (cache->same_count > 0) {
        cache->same_slots[address % (cache->same_count * SAME_SLOTS_PER_MODE)] = address;
    }
}

// ---- Integers, addresses, instructions ---------------------------------------------

int read_integer(DecodeStream* stream, const std::uint8_t** cursor, const std::uint8_t* end,
                 u64* result) {
    const std::uint8_t* next = *cursor;
    u64 value = 0;
    for (;;) {
        if (next == end) {
            return fail(stream, DECODE_INVALID_INPUT, "end-of-input in read_integer");
        }
        if (value >= INTEGER_OVERFLOW_GUARD) {
            return fail(stream, DECODE_INVALID_INPUT, "overflow in read_intger");
        }
        const std::uint8_t byte = *next++;
        value = (value << 7) | (byte & 0x7Fu);
        if (byte < 0x80) {
            break;
        }
    }
    *cursor = next;
    *result = value;
    return 0;
}

int decode_address(DecodeStream* stream, u64 here, u64 mode, const std::uint8_t** cursor,
                   const std::uint8_t* end, u64* result) {
    AddressCache* cache = &stream->address_cache;
    const u64 first_same_mode = cache->near_count + 2;
    u64 address = 0;
    if (mode < first_same_mode) {
        u64 value = 0;
        if (const int failure = read_integer(stream, cursor, end, &value)) {
            return failure;
        }
        if (mode == 0) {
            address = value;                      // VCD_SELF
        } else if (mode == 1) {
            address = here - value;               // VCD_HERE; a wrap is refused by the parse
        } else {
            address = cache->near_slots[mode - 2] + value;
        }
    } else {
        if (*cursor == end) {
            return fail(stream, DECODE_INVALID_INPUT, "address underflow");
        }
        const std::uint8_t byte = *(*cursor)++;
        address = cache->same_slots[(mode - first_same_mode) * SAME_SLOTS_PER_MODE + byte];
    }
    update_address_cache(cache, address);
    *result = address;
    return 0;
}

int parse_half_instruction(DecodeStream* stream, HalfInstruction* half) {
    if (half->size == 0) {
        if (const int failure = read_integer(stream, &stream->instructions.next,
                                             stream->instructions.end, &half->size)) {
            return failure;
        }
    }
    if (half->type >= COPY) {
        if (const int failure = decode_address(stream, stream->position, half->type - COPY,
                                               &stream->addresses.next, stream->addresses.end,
                                               &half->address)) {
            return failure;
        }
        if (half->address >= stream->position) {
            return fail(stream, DECODE_INVALID_INPUT, "address too large");
        }
        // A COPY never reaches from the source segment into the target (compared without
        // forming address + size, which a hostile size would wrap).
        if (half->address < stream->copy_window_length &&
            half->size > stream->copy_window_length - half->address) {
            return fail(stream, DECODE_INVALID_INPUT, "size too large");
        }
    }
    // position never exceeds max_position, so the difference cannot wrap.
    if (half->size > stream->max_position - stream->position) {
        return fail(stream, DECODE_INVALID_INPUT, "size too large");
    }
    stream->position += half->size;
    return 0;
}

int decode_instruction(DecodeStream* stream) {
    if (stream->instructions.next == stream->instructions.end) {
        return fail(stream, DECODE_INVALID_INPUT, "instruction underflow");
    }
    const CodeTableEntry& entry = stream->code_table[*stream->instructions.next++];
    stream->first_half.type = entry.type1;
    stream->second_half.type = entry.type2;
    stream->first_half.size = entry.size1;
    stream->second_half.size = entry.size2;
    if (entry.type1 != NOOP) {
        if (const int failure = parse_half_instruction(stream, &stream->first_half)) {
            return failure;
        }
    }
    if (entry.type2 != NOOP) {
        return parse_half_instruction(stream, &stream->second_half);
    }
    return 0;
}

// ---- Execution -----------------------------------------------------------------------

int prepare_output_buffer(DecodeStream* stream) {
    if ((stream->window_indicator & VCD_TARGET) != 0) {
        return fail(stream, DECODE_UNIMPLEMENTED, "VCD_TARGET not implemented");
    }
    if (stream->output_space < stream->target_length) {
        stream_release(stream, stream->output_buffer);
        stream->output_buffer = nullptr;
        stream->output_next = nullptr;
        // target_length is at most MAX_TARGET_WINDOW here: the rounding cannot wrap.
        const u64 granule_mask = SECTION_BUFFER_GRANULE - 1;
        const u64 space = (stream->target_length + granule_mask) & ~granule_mask;
        stream->output_buffer = static_cast<std::uint8_t*>(stream_allocate(stream, space, 1));
        if (stream->output_buffer == nullptr) {
            stream->output_space = 0;   // nothing to write into: keep the bound honest
            return fail(stream, DECODE_OUT_OF_MEMORY, "out of memory");
        }
        stream->output_space = space;
        stream->output_next = stream->output_buffer;
    }
    // Target address a is output_base[a - copy_window_length]: the index form avoids a
    // pointer before the buffer's start.
    stream->output_base = stream->output_next;
    return 0;
}

int execute_half_instruction(DecodeStream* stream, HalfInstruction* half) {
    const u64 n = half->size;
    if (stream->output_avail > stream->output_space ||
        n > stream->output_space - stream->output_avail) {
        return fail(stream, DECODE_INVALID_INPUT, "overflow while decoding");
    }
    // n == 0 writes nothing, and the buffer may not exist yet: no pointer is formed then.
    switch (half->type) {
    case ADD:
        if (n > section_left(stream->data)) {
            return fail(stream, DECODE_INVALID_INPUT, "data underflow");
        }
        if (n != 0) {
            std::memcpy(stream->output_next + stream->output_avail, stream->data.next,
                        static_cast<std::size_t>(n));
            stream->data.next += n;
        }
        stream->output_avail += n;
        half->type = NOOP;
        return 0;

    case RUN:
        if (stream->data.next == stream->data.end) {
            return fail(stream, DECODE_INVALID_INPUT, "data underflow");
        }
        if (n != 0) {
            std::memset(stream->output_next + stream->output_avail, *stream->data.next,
                        static_cast<std::size_t>(n));
        }
        stream->data.next += 1;   // one byte, whatever the size
        stream->output_avail += n;
        half->type = NOOP;
        return 0;

    default:
        break;
    }

    if (half->address < stream->copy_window_length) {
        return execute_source_copy(stream, half);
    }

    // From the target: the parse guarantees address - copy_window_length lies below the
    // bytes already produced in this window, so the read stays behind the write.
    half->type = NOOP;
    half->size = 0;
    if (n != 0) {
        copy_within_output(stream->output_base, half->address - stream->copy_window_length,
                           stream->output_avail, n);
    }
    stream->output_avail += n;
    return 0;
}

int execute_window(DecodeStream* stream) {
    HalfInstruction* first = &stream->first_half;
    HalfInstruction* second = &stream->second_half;
    while (stream->instructions.next != stream->instructions.end || first->type != NOOP ||
           second->type != NOOP) {
        if (first->type == NOOP && second->type == NOOP) {
            if (const int failure = decode_instruction(stream)) {
                return failure;
            }
        }
        while (first->type != NOOP) {
            if (const int result = execute_half_instruction(stream, first)) {
                return result;
            }
        }
        while (second->type != NOOP) {
            if (const int result = execute_half_instruction(stream, second)) {
                return result;
            }
        }
    }
    return complete_window(stream);
}
