// Adler-32 sixteen or thirty-two bytes per step. For a run of n bytes b[0..n-1]:
//   s1' = s1 + sum b[k],  s2' = s2 + n * s1 + sum (n - k) * b[k].
// Each step of w bytes adds the byte sum (sad against zero), the bytes weighted
// w..1, and, into `prefix`, the byte sum of all earlier steps, which stands for the
// further w * (steps after this one) each earlier byte still owes to s2.
#include "vcdiff/adler32.h"

#if defined(ORV_ADLER32_SSE2) || defined(ORV_ADLER32_AVX2)

#include <immintrin.h>

#include <algorithm>

namespace {

std::uint32_t packed(std::uint64_t s1, std::uint64_t s2) {
    return static_cast<std::uint32_t>((s2 << 16) | s1);
}

}  // namespace

#endif

#ifdef ORV_ADLER32_SSE2

namespace {

std::uint64_t sum_u64_lanes(__m128i v) {
    alignas(16) std::uint64_t lanes[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), v);
    return lanes[0] + lanes[1];
}

std::uint64_t sum_u32_lanes(__m128i v) {
    alignas(16) std::uint32_t lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), v);
    return std::uint64_t{lanes[0]} + lanes[1] + lanes[2] + lanes[3];
}

}  // namespace

std::uint32_t adler32_sse2(std::uint32_t initial, const std::uint8_t* bytes, std::uint64_t length) {
    constexpr std::uint64_t STEP = 16;
    std::uint64_t s1 = initial & 0xFFFFu;
    std::uint64_t s2 = initial >> 16;
    const __m128i zero = _mm_setzero_si128();
    const __m128i weights_low = _mm_setr_epi16(16, 15, 14, 13, 12, 11, 10, 9);
    const __m128i weights_high = _mm_setr_epi16(8, 7, 6, 5, 4, 3, 2, 1);
    while (length >= STEP) {
        std::uint64_t steps = std::min(length, ADLER_RUN) / STEP;
        const std::uint64_t run = steps * STEP;
        length -= run;
        __m128i sum = zero;
        __m128i prefix = zero;
        __m128i weighted = zero;
        for (; steps != 0; --steps, bytes += STEP) {
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
            prefix = _mm_add_epi64(prefix, sum);
            sum = _mm_add_epi64(sum, _mm_sad_epu8(b, zero));
            weighted = _mm_add_epi32(weighted, _mm_madd_epi16(_mm_unpacklo_epi8(b, zero), weights_low));
            weighted = _mm_add_epi32(weighted, _mm_madd_epi16(_mm_unpackhi_epi8(b, zero), weights_high));
        }
        s2 = (s2 + s1 * run + STEP * sum_u64_lanes(prefix) + sum_u32_lanes(weighted)) % ADLER_MODULUS;
        s1 = (s1 + sum_u64_lanes(sum)) % ADLER_MODULUS;
    }
    return adler32_portable(packed(s1, s2), bytes, length);
}

#endif

#ifdef ORV_ADLER32_AVX2

namespace {

__attribute__((target("avx2"))) std::uint64_t sum_u64_lanes(__m256i v) {
    alignas(32) std::uint64_t lanes[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), v);
    return lanes[0] + lanes[1] + lanes[2] + lanes[3];
}

__attribute__((target("avx2"))) std::uint64_t sum_u32_lanes(__m256i v) {
    alignas(32) std::uint32_t lanes[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), v);
    std::uint64_t total = 0;
    for (std::uint32_t lane : lanes) total += lane;
    return total;
}

}  // namespace

bool adler32_avx2_usable() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}

__attribute__((target("avx2")))
std::uint32_t adler32_avx2(std::uint32_t initial, const std::uint8_t* bytes, std::uint64_t length) {
    constexpr std::uint64_t STEP = 32;
    std::uint64_t s1 = initial & 0xFFFFu;
    std::uint64_t s2 = initial >> 16;
    const __m256i zero = _mm256_setzero_si256();
    const __m256i weights = _mm256_setr_epi8(32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17,
                                             16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1);
    const __m256i ones = _mm256_set1_epi16(1);
    while (length >= STEP) {
        std::uint64_t steps = std::min(length, ADLER_RUN) / STEP;
        const std::uint64_t run = steps * STEP;
        length -= run;
        __m256i sum = zero;
        __m256i prefix = zero;
        __m256i weighted = zero;
        for (; steps != 0; --steps, bytes += STEP) {
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes));
            prefix = _mm256_add_epi64(prefix, sum);
            sum = _mm256_add_epi64(sum, _mm256_sad_epu8(b, zero));
            // Pairs of byte * weight fit in 16 bits (at most 255 * 63).
            weighted = _mm256_add_epi32(weighted, _mm256_madd_epi16(_mm256_maddubs_epi16(b, weights), ones));
        }
        s2 = (s2 + s1 * run + STEP * sum_u64_lanes(prefix) + sum_u32_lanes(weighted)) % ADLER_MODULUS;
        s1 = (s1 + sum_u64_lanes(sum)) % ADLER_MODULUS;
    }
    return adler32_portable(packed(s1, s2), bytes, length);
}

#endif
