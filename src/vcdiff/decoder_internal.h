// Operations shared between the decoder's source files. Not for the decoder's callers:
// they use decoder.h only. Tests include this header to reach the inner pieces.
#pragma once

#include "vcdiff/decode_types.h"

// Every failure goes through here: the message is a static text, the code is returned.
inline int fail(DecodeStream* stream, int code, const char* message) {
    stream->message = message;
    return code;
}

// Allocates `count` elements of `element_size` bytes through the stream's allocator.
inline void* stream_allocate(DecodeStream* stream, u64 count, u64 element_size) {
    return stream->allocate(stream->opaque, count, element_size);
}

// Gives `pointer` back through the stream's releaser when it is not null.
inline void stream_release(DecodeStream* stream, void* pointer) {
    if (pointer != nullptr) {
        stream->release(stream->opaque, pointer);
    }
}

// ---- decode_step.cpp: header integers ------------------------------------------
// Reads one variable-length integer of a header from the input, resuming a partial one
// through integer_partial. 0, DECODE_INPUT or DECODE_INVALID_INPUT.
int decode_integer(DecodeStream* stream, u64* destination);
// Bytes of the shortest encoding of `value` (1 to 10).
u64 integer_size(u64 value);

// ---- instructions.cpp -----------------------------------------------------------
int allocate_address_cache(DecodeStream* stream);
void reset_address_cache(DecodeStream* stream);
void update_address_cache(AddressCache* cache, u64 address);
// Reads one variable-length integer from [*cursor, end); advances *cursor only on success.
int read_integer(DecodeStream* stream, const std::uint8_t** cursor, const std::uint8_t* end,
                 u64* result);
int decode_address(DecodeStream* stream, u64 here, u64 mode, const std::uint8_t** cursor,
                   const std::uint8_t* end, u64* result);
int decode_instruction(DecodeStream* stream);
int parse_half_instruction(DecodeStream* stream, HalfInstruction* half);
int execute_half_instruction(DecodeStream* stream, HalfInstruction* half);
int prepare_output_buffer(DecodeStream* stream);
// Runs the window's instructions, then completes it: DECODE_OUTPUT or a failure/request.
int execute_window(DecodeStream* stream);

// ---- source_blocks.cpp -----------------------------------------------------------
int fetch_source_block(DecodeStream* stream, u64 block);
// The COPY branch for an address inside the window's source segment.
int execute_source_copy(DecodeStream* stream, HalfInstruction* half);

// ---- window_completion.cpp -------------------------------------------------------
// Checks a window whose instructions are all executed and hands it over.
int complete_window(DecodeStream* stream);
int finish_window(DecodeStream* stream);
