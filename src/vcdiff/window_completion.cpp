// Verification of a finished window and the hand-over of its output.
#include "vcdiff/decoder.h"
#include "vcdiff/decoder_internal.h"

int complete_window(DecodeStream* stream) {
    if (stream->output_avail != stream->target_length) {
        return fail(stream, DECODE_INVALID_INPUT, "wrong window length");
    }
    if (stream->data.next != stream->data.end) {
        return fail(stream, DECODE_INVALID_INPUT, "extra data section");
    }
    if (stream->addresses.next != stream->addresses.end) {
        return fail(stream, DECODE_INVALID_INPUT, "extra address section");
    }
    if ((stream->window_indicator & VCD_CHECKSUM) != 0 &&
        (stream->flags & DECODE_FLAG_SKIP_CHECKSUM) == 0) {
        const std::uint32_t actual = adler32(1, stream->output_next, stream->output_avail);
        if (actual != stream->expected_adler32) {
            return fail(stream, DECODE_CHECKSUM_MISMATCH, "target window checksum mismatch");
        }
    }
    return finish_window(stream);
}

int finish_window(DecodeStream* stream) {
    stream->section_bytes_read = 0;
    stream->state = STATE_WINDOW_FINISHED;
    stream->data.filled = 0;
    stream->instructions.filled = 0;
    stream->addresses.filled = 0;
    return DECODE_OUTPUT;
}
