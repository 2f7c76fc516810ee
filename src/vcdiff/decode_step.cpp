// The decoder's state machine: file header, window headers and the gathering of each
// window's sections; instruction execution is handed to execute_window.
//
// decode_step is a resumable state machine: one switch over stream->state whose cases fall
// through in file order. Every field of the patch has a state of its own. A case first
// reads its field; when the chunk runs out the reader returns DECODE_INPUT and the state
// stays put (partial integers live in integer_partial, partial fixed fields in their
// *_filled counters, partial sections in their cursors), so the next call with the next
// chunk enters the same case and carries on with nothing lost. `state` moves on, and the
// field's checks run, only once the field is complete: a resumed call never runs a check
// twice, and a failure is the same wherever the chunks of the patch happened to end.
//
// File header: MAGIC (4 bytes) -> HEADER_INDICATOR -> SECONDARY_ID (only with
// VCD_DECOMPRESS, and always a failure) -> CODE_TABLE_LENGTH/NEAR/SAME (only with
// VCD_CODETABLE) -> CODE_TABLE_DATA (refuses a code table, otherwise takes the default
// table and allocates the address cache) -> APPHEADER_LENGTH/APPHEADER_DATA (only with
// the application-header bit) -> WINDOW_INDICATOR. States whose field is absent are
// passed through in the same call without reading anything.
//
// Window: WINDOW_INDICATOR -> COPY_LENGTH/COPY_OFFSET (only with exactly one of
// VCD_SOURCE and VCD_TARGET) -> ENCODING_LENGTH -> TARGET_LENGTH -> DELTA_INDICATOR ->
// DATA/INSTRUCTIONS/ADDRESSES_LENGTH -> CHECKSUM (only with VCD_CHECKSUM), which returns
// DECODE_GOTHEADER for the first window and DECODE_WINSTART for the others. The caller
// calls again; DATA/INSTRUCTIONS/ADDRESSES_SECTION gather the sections, in place from
// the chunk when the rest of them lies wholly in it, otherwise in copy buffers, and
// DECODE_INPUT asks for more. With all sections complete the output buffer is prepared
// and the call falls into EMIT.
//
// EMIT runs the instructions (execute_window). A COPY from a source block that is not
// loaded returns DECODE_GETSRCBLK with the half-instruction still pending: the caller
// loads `requested_block` into the DecodeSource and calls again with the chunk
// unchanged, EMIT is entered again and the COPY resumes. Sections read in place stay
// valid through these returns because the caller changes its chunk only after
// DECODE_INPUT, and EMIT never returns that. When the window is complete and verified,
// EMIT returns DECODE_OUTPUT with `output_avail` bytes at `output_next` and the state
// WINDOW_FINISHED; the caller takes the bytes, sets output_avail to 0 and calls again:
// WINDOW_FINISHED counts the window and returns DECODE_WINFINISH. The next call reads
// the next window indicator, or returns DECODE_INPUT when the patch is used up.
//
// Results: DECODE_INPUT (chunk used up), DECODE_GOTHEADER / DECODE_WINSTART /
// DECODE_WINFINISH (call again), DECODE_GETSRCBLK (load a block, call again),
// DECODE_OUTPUT (take the window), or a failure with `message` set; never 0. After a
// failure the stream is only released.
//
// Every reader (read_byte, gather_bytes, decode_integer, read_section and the steps
// built on them) returns 0 once its field is complete, and otherwise the result the
// call must hand back as it is: DECODE_INPUT when the chunk ran out, or a failure.
// RETURN_UNLESS_DONE is that rule, written once.
#include <algorithm>
#include <cstring>
#include <limits>

#include "vcdiff/decoder.h"
#include "vcdiff/decoder_internal.h"

#define RETURN_UNLESS_DONE(call)                                \
    do {                                                        \
        if (const int step_result = (call); step_result != 0) { \
            return step_result;                                 \
        }                                                       \
    } while (false)

namespace {

constexpr u64 U64_MAX = std::numeric_limits<u64>::max();
constexpr u64 INTEGER_OVERFLOW_GUARD = u64{1} << 57;   // one more 7-bit group would not fit
constexpr std::uint8_t MAGIC_BYTES[3] = {0xD6, 0xC3, 0xC4};
constexpr u64 RESERVED_INDICATOR_BITS = 0xF8;

void advance_input(DecodeStream* stream, u64 count) {
    stream->input_next += count;
    stream->input_avail -= count;
    stream->input_total += count;
}

// One byte of an indicator or of a single-byte header field.
int read_byte(DecodeStream* stream, u64* destination) {
    if (stream->input_avail == 0) {
        return fail(stream, DECODE_INPUT, "further input required");
    }
    *destination = *stream->input_next;
    advance_input(stream, 1);
    return 0;
}

// A fixed-size field that may arrive over several chunks; *filled counts what is there.
int gather_bytes(DecodeStream* stream, std::uint8_t* destination, u64* filled, u64 size) {
    while (*filled < size) {
        if (stream->input_avail == 0) {
            return fail(stream, DECODE_INPUT, "further input required");
        }
        const u64 take = std::min(size - *filled, stream->input_avail);
        std::memcpy(destination + *filled, stream->input_next, static_cast<std::size_t>(take));
        *filled += take;
        advance_input(stream, take);
    }
    return 0;
}

// Section copies grow in whole granules and are kept for later windows.
int grow_section_buffer(DecodeStream* stream, SectionCursor* cursor, u64 length) {
    if (cursor->copy != nullptr && cursor->copy_capacity >= length) {
        return 0;
    }
    stream_release(stream, cursor->copy);
    cursor->copy = nullptr;
    cursor->copy_capacity = 0;
    // Round up to the granule; where that would wrap, ask for the exact length, which no
    // allocator can give: never a buffer shorter than the section.
    const u64 granule_mask = SECTION_BUFFER_GRANULE - 1;
    const u64 capacity =
        length <= U64_MAX - granule_mask ? (length + granule_mask) & ~granule_mask : length;
    cursor->copy = static_cast<std::uint8_t*>(stream_allocate(stream, capacity, 1));
    if (cursor->copy == nullptr) {
        return fail(stream, DECODE_OUT_OF_MEMORY, "out of memory");
    }
    cursor->copy_capacity = capacity;
    return 0;
}

// Reads one section, in place from the chunk when `copy` is false and the section is
// wholly there, otherwise into the cursor's copy buffer.
int read_section(DecodeStream* stream, SectionCursor* cursor, DecodeState next_state, bool copy) {
    if (cursor->filled < cursor->length) {
        if (stream->input_avail == 0) {
            return DECODE_INPUT;
        }
        u64 take = 0;
        if (!copy && cursor->filled == 0) {
            cursor->next = stream->input_next;
            take = cursor->length;
        } else {
            take = std::min(cursor->length - cursor->filled, stream->input_avail);
            if (cursor->filled == 0) {
                RETURN_UNLESS_DONE(grow_section_buffer(stream, cursor, cursor->length));
                cursor->next = cursor->copy;
            }
            std::memcpy(cursor->copy + cursor->filled, stream->input_next,
                        static_cast<std::size_t>(take));
        }
        cursor->filled += take;
        stream->section_bytes_read += take;
        advance_input(stream, take);
        if (cursor->filled < cursor->length) {
            return fail(stream, DECODE_INPUT, "further input required");
        }
    } else {
        // An empty section must not keep pointing into an earlier chunk.
        cursor->next = nullptr;
    }
    stream->state = next_state;
    cursor->filled = 0;
    cursor->end = cursor->next + cursor->length;
    return 0;
}

int read_sections(DecodeStream* stream) {
    const u64 data_length = stream->data.length;
    const u64 instructions_length = stream->instructions.length;
    const u64 addresses_length = stream->addresses.length;
    if (instructions_length > U64_MAX - addresses_length ||
        data_length > U64_MAX - (instructions_length + addresses_length)) {
        return fail(stream, DECODE_INTERNAL, "decoder section size overflow");
    }
    const u64 remaining =
        data_length + instructions_length + addresses_length - stream->section_bytes_read;
    // In place only when the rest of the window's sections is all in this chunk: the
    // caller keeps the chunk until DECODE_INPUT, and the window ends before that.
    const bool copy = stream->input_avail < remaining;

    if (stream->state == STATE_DATA_SECTION) {
        RETURN_UNLESS_DONE(read_section(stream, &stream->data, STATE_INSTRUCTIONS_SECTION, copy));
    }
    if (stream->state == STATE_INSTRUCTIONS_SECTION) {
        RETURN_UNLESS_DONE(read_section(stream, &stream->instructions, STATE_ADDRESSES_SECTION, copy));
    }
    if (stream->state == STATE_ADDRESSES_SECTION) {
        RETURN_UNLESS_DONE(read_section(stream, &stream->addresses, STATE_EMIT, copy));
    }
    return prepare_output_buffer(stream);
}

bool has_copy_window_fields(u64 window_indicator) {
    const u64 kind = window_indicator & (VCD_SOURCE | VCD_TARGET);
    return kind == VCD_SOURCE || kind == VCD_TARGET;
}

// The redundant window length: what the encoding length must be for the fields read.
u64 expected_encoding_length(const DecodeStream* stream) {
    const u64 data_length = stream->data.length;
    const u64 instructions_length = stream->instructions.length;
    const u64 addresses_length = stream->addresses.length;
    // Wrap-around arithmetic on purpose: lengths that overflow fail in read_sections.
    u64 expected = 1 + integer_size(stream->target_length) + integer_size(data_length) +
                   integer_size(instructions_length) + integer_size(addresses_length) +
                   data_length + instructions_length + addresses_length;
    if ((stream->window_indicator & VCD_CHECKSUM) != 0) {
        expected += 4;
    }
    return expected;
}

}  // namespace

u64 integer_size(u64 value) {
    u64 size = 1;
    while ((value >>= 7) != 0) {
        ++size;
    }
    return size;
}

int decode_integer(DecodeStream* stream, u64* destination) {
    while (stream->input_avail > 0) {
        const std::uint8_t byte = *stream->input_next;
        advance_input(stream, 1);
        if (stream->integer_partial >= INTEGER_OVERFLOW_GUARD) {
            return fail(stream, DECODE_INVALID_INPUT, "overflow in decode_integer");
        }
        stream->integer_partial = (stream->integer_partial << 7) | (byte & 0x7Fu);
        if (byte < 0x80) {
            *destination = stream->integer_partial;
            stream->integer_partial = 0;
            return 0;
        }
    }
    return fail(stream, DECODE_INPUT, "further input required");
}

int decode_step(DecodeStream* stream) {
    DecodeStream* const s = stream;

    switch (s->state) {
    case STATE_MAGIC:
        RETURN_UNLESS_DONE(gather_bytes(s, s->magic, &s->magic_filled, sizeof s->magic));
        if (std::memcmp(s->magic, MAGIC_BYTES, sizeof MAGIC_BYTES) != 0) {
            return fail(s, DECODE_INVALID_INPUT, "not a VCDIFF input");
        }
        if (s->magic[3] != 0) {
            return fail(s, DECODE_INVALID_INPUT, "VCDIFF input version > 0 is not supported");
        }
        s->state = STATE_HEADER_INDICATOR;
        [[fallthrough]];

    case STATE_HEADER_INDICATOR:
        RETURN_UNLESS_DONE(read_byte(s, &s->header_indicator));
        if ((s->header_indicator & RESERVED_INDICATOR_BITS) != 0) {
            return fail(s, DECODE_INVALID_INPUT, "unrecognized header indicator bits set");
        }
        s->state = STATE_SECONDARY_ID;
        [[fallthrough]];

    case STATE_SECONDARY_ID:
        if ((s->header_indicator & VCD_DECOMPRESS) != 0) {
            RETURN_UNLESS_DONE(read_byte(s, &s->secondary_id));
            s->state = STATE_CODE_TABLE_LENGTH;
            // No secondary decompressor exists: a compressed patch is never decoded.
            switch (s->secondary_id) {
            case 1:
                return fail(s, DECODE_INTERNAL, "unavailable secondary compressor: DJW Static Huffman");
            case 2:
                return fail(s, DECODE_INTERNAL, "unavailable secondary compressor: LZMA");
            case 16:
                return fail(s, DECODE_INTERNAL, "unavailable secondary compressor: FGK Adaptive Huffman");
            default:
                return fail(s, DECODE_INVALID_INPUT, "unknown secondary compressor ID");
            }
        }
        s->state = STATE_CODE_TABLE_LENGTH;
        [[fallthrough]];

    case STATE_CODE_TABLE_LENGTH:
        if ((s->header_indicator & VCD_CODETABLE) != 0) {
            RETURN_UNLESS_DONE(decode_integer(s, &s->code_table_length));
            s->state = STATE_CODE_TABLE_NEAR;
            if (s->code_table_length <= 2) {
                return fail(s, DECODE_OUT_OF_MEMORY, "invalid code table size");
            }
            s->code_table_length -= 2;
        }
        s->state = STATE_CODE_TABLE_NEAR;
        [[fallthrough]];

    case STATE_CODE_TABLE_NEAR:
        if ((s->header_indicator & VCD_CODETABLE) != 0) {
            RETURN_UNLESS_DONE(read_byte(s, &s->address_cache.near_count));
        }
        s->state = STATE_CODE_TABLE_SAME;
        [[fallthrough]];

    case STATE_CODE_TABLE_SAME:
        if ((s->header_indicator & VCD_CODETABLE) != 0) {
            RETURN_UNLESS_DONE(read_byte(s, &s->address_cache.same_count));
        }
        s->state = STATE_CODE_TABLE_DATA;
        [[fallthrough]];

    case STATE_CODE_TABLE_DATA:
        if ((s->header_indicator & VCD_CODETABLE) != 0) {
            return fail(s, DECODE_UNIMPLEMENTED, "VCD_CODETABLE support was removed");
        }
        s->address_cache.near_count = 4;
        s->address_cache.same_count = 3;
        s->code_table = default_code_table();
        RETURN_UNLESS_DONE(allocate_address_cache(s));
        s->state = STATE_APPHEADER_LENGTH;
        [[fallthrough]];

    case STATE_APPHEADER_LENGTH:
        if ((s->header_indicator & VCD_APPHEADER) != 0) {
            RETURN_UNLESS_DONE(decode_integer(s, &s->appheader_length));
        }
        s->state = STATE_APPHEADER_DATA;
        [[fallthrough]];

    case STATE_APPHEADER_DATA:
        if ((s->header_indicator & VCD_APPHEADER) != 0) {
            if (s->appheader == nullptr) {
                if (s->appheader_length == U64_MAX) {
                    return fail(s, DECODE_INVALID_INPUT, "exceptional appheader size");
                }
                s->appheader =
                    static_cast<std::uint8_t*>(stream_allocate(s, s->appheader_length + 1, 1));
                if (s->appheader == nullptr) {
                    return fail(s, DECODE_OUT_OF_MEMORY, "out of memory");
                }
                s->appheader[s->appheader_length] = 0;
            }
            RETURN_UNLESS_DONE(gather_bytes(s, s->appheader, &s->appheader_filled, s->appheader_length));
        }
        s->state = STATE_WINDOW_INDICATOR;
        [[fallthrough]];

    case STATE_WINDOW_INDICATOR:
        RETURN_UNLESS_DONE(read_byte(s, &s->window_indicator));
        s->window_number = s->windows_done;
        // target_length still holds the previous window's length (0 before the first).
        if (s->target_length > U64_MAX - s->window_start) {
            return fail(s, DECODE_INVALID_INPUT, "decoder file offset overflow");
        }
        s->window_start += s->target_length;
        if ((s->window_indicator & RESERVED_INDICATOR_BITS) != 0) {
            return fail(s, DECODE_INVALID_INPUT, "unrecognized window indicator bits set");
        }
        s->copy_window_length = 0;
        s->copy_window_offset = 0;
        s->checksum_filled = 0;
        reset_address_cache(s);
        s->state = STATE_COPY_LENGTH;
        [[fallthrough]];

    case STATE_COPY_LENGTH:
        if (has_copy_window_fields(s->window_indicator)) {
            RETURN_UNLESS_DONE(decode_integer(s, &s->copy_window_length));
        }
        s->position = s->copy_window_length;
        s->state = STATE_COPY_OFFSET;
        [[fallthrough]];

    case STATE_COPY_OFFSET:
        if (has_copy_window_fields(s->window_indicator)) {
            RETURN_UNLESS_DONE(decode_integer(s, &s->copy_window_offset));
        }
        s->state = STATE_ENCODING_LENGTH;
        // Checked on entering ENCODING_LENGTH, once: a resumed call skips them.
        if (s->copy_window_length > U64_MAX - s->copy_window_offset) {
            return fail(s, DECODE_INVALID_INPUT, "decoder copy window overflows a file offset");
        }
        if ((s->window_indicator & VCD_TARGET) != 0 &&
            s->copy_window_offset + s->copy_window_length > s->window_start) {
            return fail(s, DECODE_INVALID_INPUT, "VCD_TARGET window out of bounds");
        }
        [[fallthrough]];

    case STATE_ENCODING_LENGTH:
        RETURN_UNLESS_DONE(decode_integer(s, &s->encoding_length));
        s->state = STATE_TARGET_LENGTH;
        [[fallthrough]];

    case STATE_TARGET_LENGTH:
        RETURN_UNLESS_DONE(decode_integer(s, &s->target_length));
        s->state = STATE_DELTA_INDICATOR;
        if (s->target_length > U64_MAX - s->copy_window_length) {
            return fail(s, DECODE_INVALID_INPUT, "decoder target window overflows a usize_t");
        }
        if (s->target_length > MAX_TARGET_WINDOW) {
            return fail(s, DECODE_INVALID_INPUT, "hard window size exceeded");
        }
        s->max_position = s->copy_window_length + s->target_length;
        [[fallthrough]];

    case STATE_DELTA_INDICATOR:
        RETURN_UNLESS_DONE(read_byte(s, &s->delta_indicator));
        s->state = STATE_DATA_LENGTH;
        if ((s->delta_indicator & RESERVED_INDICATOR_BITS) != 0) {
            return fail(s, DECODE_INVALID_INPUT, "unrecognized delta indicator bits set");
        }
        if (s->delta_indicator != 0) {
            return fail(s, DECODE_INVALID_INPUT, "invalid delta indicator bits set");
        }
        [[fallthrough]];

    case STATE_DATA_LENGTH:
        RETURN_UNLESS_DONE(decode_integer(s, &s->data.length));
        s->state = STATE_INSTRUCTIONS_LENGTH;
        [[fallthrough]];

    case STATE_INSTRUCTIONS_LENGTH:
        RETURN_UNLESS_DONE(decode_integer(s, &s->instructions.length));
        s->state = STATE_ADDRESSES_LENGTH;
        [[fallthrough]];

    case STATE_ADDRESSES_LENGTH:
        RETURN_UNLESS_DONE(decode_integer(s, &s->addresses.length));
        s->state = STATE_CHECKSUM;
        [[fallthrough]];

    case STATE_CHECKSUM:
        if ((s->window_indicator & VCD_CHECKSUM) != 0) {
            RETURN_UNLESS_DONE(gather_bytes(s, s->checksum_bytes, &s->checksum_filled, sizeof s->checksum_bytes));
            s->expected_adler32 = (std::uint32_t{s->checksum_bytes[0]} << 24) |
                                  (std::uint32_t{s->checksum_bytes[1]} << 16) |
                                  (std::uint32_t{s->checksum_bytes[2]} << 8) |
                                  std::uint32_t{s->checksum_bytes[3]};
        }
        s->state = STATE_DATA_SECTION;
        if (s->encoding_length != expected_encoding_length(s)) {
            return fail(s, DECODE_INVALID_INPUT, "incorrect encoding length (redundent)");
        }
        return s->window_number == 0 ? DECODE_GOTHEADER : DECODE_WINSTART;

    case STATE_DATA_SECTION:
    case STATE_INSTRUCTIONS_SECTION:
    case STATE_ADDRESSES_SECTION:
        RETURN_UNLESS_DONE(read_sections(s));
        [[fallthrough]];

    case STATE_EMIT:
        if ((s->window_indicator & VCD_SOURCE) != 0) {
            if (s->source == nullptr) {
                return fail(s, DECODE_INVALID_INPUT, "source input required");
            }
            s->source->copy_offset_blocks = s->copy_window_offset >> s->source->block_shift;
            s->source->copy_offset_remainder = s->copy_window_offset & s->source->block_mask;
        }
        if (const int result = execute_window(s); result != DECODE_OUTPUT) {
            return result;   // a failure, or DECODE_GETSRCBLK with EMIT still the state
        }
        s->output_total += s->output_avail;
        return DECODE_OUTPUT;

    case STATE_WINDOW_FINISHED:
        s->windows_done += 1;
        s->state = STATE_WINDOW_INDICATOR;
        return DECODE_WINFINISH;
    }
    return fail(s, DECODE_INTERNAL, "invalid decoder state");
}

#undef RETURN_UNLESS_DONE
