// Configuration, source attachment, end of input and release of a decoder stream.
#include <cstdlib>
#include <cstring>
#include <limits>

#include "vcdiff/decoder.h"
#include "vcdiff/decoder_internal.h"

namespace {

constexpr u64 DEFAULT_SPREVSZ = 262144;
constexpr std::uint32_t SECONDARY_COMPRESSOR_BITS =
    DECODE_FLAG_SECONDARY_DJW | DECODE_FLAG_SECONDARY_FGK | DECODE_FLAG_SECONDARY_LZMA;
constexpr std::uint32_t SECONDARY_SECTION_BITS = DECODE_FLAG_SECONDARY_DATA |
                                                 DECODE_FLAG_SECONDARY_INSTRUCTIONS |
                                                 DECODE_FLAG_SECONDARY_ADDRESSES;

bool is_power_of_two(u64 value) { return value != 0 && (value & (value - 1)) == 0; }

u64 log2_of_power_of_two(u64 value) {
    u64 shift = 0;
    while ((value >> shift) != 1) {
        ++shift;
    }
    return shift;
}

void clear_stream(DecodeStream* stream) { std::memset(stream, 0, sizeof *stream); }

}  // namespace

void* default_allocate(void* /*opaque*/, u64 count, u64 element_size) {
    if (element_size != 0 && count > std::numeric_limits<u64>::max() / element_size) {
        return nullptr;
    }
    const u64 bytes = count * element_size;
    if (bytes > std::numeric_limits<std::size_t>::max()) {
        return nullptr;
    }
    return std::malloc(static_cast<std::size_t>(bytes));
}

void default_release(void* /*opaque*/, void* pointer) { std::free(pointer); }

int configure_stream(DecodeStream* stream, const DecodeConfig* config) {
    static const DecodeConfig NO_CONFIG{};
    if (config == nullptr) {
        config = &NO_CONFIG;
    }
    clear_stream(stream);

    // Encoder settings: the window size is not needed at all, sprevsz is only validated.
    const u64 sprevsz = config->sprevsz != 0 ? config->sprevsz : DEFAULT_SPREVSZ;

    stream->getblk = config->getblk;
    stream->allocate = config->allocate != nullptr ? config->allocate : default_allocate;
    stream->release = config->release != nullptr ? config->release : default_release;
    stream->opaque = config->opaque;
    stream->flags = config->flags;

    switch (stream->flags & SECONDARY_COMPRESSOR_BITS) {
    case 0:
        if ((stream->flags & SECONDARY_SECTION_BITS) != 0) {
            return fail(stream, DECODE_INTERNAL, "SEC flags require a secondary compressor type");
        }
        break;
    case DECODE_FLAG_SECONDARY_DJW:
        return fail(stream, DECODE_INTERNAL, "unavailable secondary compressor: DJW Static Huffman");
    case DECODE_FLAG_SECONDARY_FGK:
        return fail(stream, DECODE_INTERNAL, "unavailable secondary compressor: FGK Adaptive Huffman");
    case DECODE_FLAG_SECONDARY_LZMA:
        return fail(stream, DECODE_INTERNAL, "unavailable secondary compressor: LZMA");
    default:
        return fail(stream, DECODE_INTERNAL, "too many secondary compressor types set");
    }

    if (!is_power_of_two(sprevsz)) {
        return fail(stream, DECODE_INTERNAL, "sprevsz is required to be a power of two");
    }
    return 0;
}

int attach_source(DecodeStream* stream, DecodeSource* source) {
    stream->source = source;
    if (!is_power_of_two(source->block_size)) {
        // Round up to a power of two; past 2^63 there is none, so the largest one serves.
        u64 rounded = 1;
        while (rounded < source->block_size && rounded < (u64{1} << 63)) {
            rounded <<= 1;
        }
        source->block_size = rounded;
    }
    source->block_shift = log2_of_power_of_two(source->block_size);
    source->block_mask = source->block_size - 1;
    return 0;
}

int end_stream(DecodeStream* stream) {
    if (stream->state == STATE_MAGIC || stream->state == STATE_WINDOW_INDICATOR) {
        return 0;
    }
    return fail(stream, DECODE_INVALID_INPUT, "eof in decode");
}

int release_stream(DecodeStream* stream) {
    if (stream->release != nullptr) {
        stream_release(stream, stream->address_cache.near_slots);
        stream_release(stream, stream->address_cache.same_slots);
        stream_release(stream, stream->instructions.copy);
        stream_release(stream, stream->addresses.copy);
        stream_release(stream, stream->data.copy);
        stream_release(stream, stream->output_buffer);
        stream_release(stream, stream->appheader);
    }
    clear_stream(stream);
    return 0;
}
