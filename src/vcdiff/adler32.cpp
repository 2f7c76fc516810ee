// Adler-32: the portable kernel, and the choice of the fastest kernel this
// processor runs, made once.
#include "vcdiff/adler32.h"

#include <algorithm>

#include "vcdiff/decoder.h"

std::uint32_t adler32_portable(std::uint32_t initial, const std::uint8_t* bytes, std::uint64_t length) {
    std::uint32_t s1 = initial & 0xFFFFu;
    std::uint32_t s2 = initial >> 16;
    while (length > 0) {
        std::uint64_t run = std::min(length, ADLER_RUN);
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

namespace {

Adler32Function fastest_adler32() {
#ifdef ORV_ADLER32_AVX2
    if (adler32_avx2_usable()) return adler32_avx2;
#endif
#ifdef ORV_ADLER32_SSE2
    return adler32_sse2;
#else
    return adler32_portable;
#endif
}

}  // namespace

std::uint32_t adler32(std::uint32_t initial, const std::uint8_t* bytes, u64 length) {
    static const Adler32Function chosen = fastest_adler32();
    return chosen(initial, bytes, length);
}
