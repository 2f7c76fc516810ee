// Verification of a finished window, its Adler-32, and the hand-over of its output.
#include "vcdiff/decoder.h"
#include "vcdiff/decoder_internal.h"

namespace {

constexpr std::uint32_t ADLER_MODULUS = 65521;
// Largest run after which neither 32-bit sum can have overflowed, starting reduced.
constexpr u64 ADLER_RUN = 5552;

}  // namespace

std::uint32_t adler32(std::uint32_t initial, const std::uint8_t* bytes, u64 length) {
    std::uint32_t s1 = initial & 0xFFFFu;
    std::uint32_t s2 = initial >> 16;
    while (length > 0) {
        u64 run = length < ADLER_RUN ? length : ADLER_RUN;
        length -= run;
        for (; run >= 16; run -= 16, bytes += 16) {
            s1 += bytes[0];  s2 += s1;
            s1 += bytes[1];  s2 += s1;
            s1 += bytes[2];  s2 += s1;
            s1 += bytes[3];  s2 += s1;
            s1 += bytes[4];  s2 += s1;
            s1 += bytes[5];  s2 += s1;
            s1 += bytes[6];  s2 += s1;
            s1 += bytes[7];  s2 += s1;
            s1 += bytes[8];  s2 += s1;
            s1 += bytes[9];  s2 += s1;
            s1 += bytes[10]; s2 += s1;
            s1 += bytes[11]; s2 += s1;
            s1 += bytes[12]; s2 += s1;
            s1 += bytes[13]; s2 += s1;
            s1 += bytes[14]; s2 += s1;
            s1 += bytes[15]; s2 += s1;
        }
        for (; run > 0; --run) {
            s1 += *bytes++;
            s2 += s1;
        }
        s1 %= ADLER_MODULUS;
        s2 %= ADLER_MODULUS;
    }
    return (s2 << 16) | s1;
}

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
