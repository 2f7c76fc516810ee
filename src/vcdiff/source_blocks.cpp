// COPYs from the window's source segment, served one caller-loaded block at a time.
#include <cstring>

#include "vcdiff/decoder.h"
#include "vcdiff/decoder_internal.h"

int fetch_source_block(DecodeStream* stream, u64 block) {
    DecodeSource* source = stream->source;
    if (source->current_block == nullptr || source->current_block_number != block) {
        source->requested_block = block;
        if (stream->getblk == nullptr) {
            return fail(stream, DECODE_GETSRCBLK, "getblk source input");
        }
        if (const int result = stream->getblk(stream, source, block)) {
            return result;
        }
    }
    // Only the caller uses what is learnt here about the end of the source.
    if (block > source->last_block_number) {
        source->last_block_number = block;
        if (source->current_block_length != source->block_size && source->end_known == 0) {
            source->end_known = 1;
        }
        source->last_block_length = source->current_block_length;
    } else if (block == source->last_block_number) {
        source->last_block_length = source->current_block_length;
    }
    return 0;
}

int execute_source_copy(DecodeStream* stream, HalfInstruction* half) {
    DecodeSource* source = stream->source;
    const u64 n = half->size;

    // Block and in-block offset of source byte copy_window_offset + address. The sum
    // cannot wrap: it stays below copy_window_offset + copy_window_length.
    u64 block = source->copy_offset_blocks;
    u64 offset = source->copy_offset_remainder + half->address;
    if ((offset >> source->block_shift) != 0) {
        block += offset >> source->block_shift;
        offset &= source->block_mask;
    }

    // On a request the half stays as it is: the next call starts again from its address.
    const int fetched = fetch_source_block(stream, block);
    if (fetched == DECODE_TOOFARBACK) {
        return fail(stream, DECODE_INTERNAL, "non-seekable source in decode");
    }
    if (fetched != 0) {
        return fetched;
    }

    const u64 valid = source->current_block_length;
    if (valid != source->block_size && (offset > valid || n > valid - offset)) {
        return fail(stream, DECODE_INVALID_INPUT, "source file too short");
    }

    u64 take = n;
    if (n <= source->block_size - offset) {
        half->type = NOOP;
        half->size = 0;
    } else {
        take = source->block_size - offset;
        half->size -= take;
        half->address += take;
    }
    if (take != 0) {
        std::memcpy(stream->output_next + stream->output_avail, source->current_block + offset,
                    static_cast<std::size_t>(take));
    }
    stream->output_avail += take;
    return 0;
}
