// Every checksum kernel this processor runs, and the one adler32() picks, against the
// patch writer's, written from the definition: lengths around the 5552-byte run, odd alignments, start
// values other than 1, and all-0xFF bytes (the largest sums).
#include <gtest/gtest.h>

#include "patch_reference.h"
#include "vcdiff/adler32.h"
#include "vcdiff/decoder.h"

namespace {

std::uint32_t dispatched(std::uint32_t initial, const std::uint8_t* bytes, std::uint64_t length) {
    return adler32(initial, bytes, length);
}

TEST(Adler32, EveryKernelMatchesTheByteByByteSums) {
    struct Kernel { const char* name; Adler32Function function; bool usable; };
    const Kernel kernels[] = {
        {"portable", adler32_portable, true},
        {"chosen", dispatched, true},
#ifdef ORV_ADLER32_SSE2
        {"sse2", adler32_sse2, true},
#endif
#ifdef ORV_ADLER32_AVX2
        {"avx2", adler32_avx2, adler32_avx2_usable()},
#endif
    };
    std::vector<std::size_t> lengths{3 * ADLER_RUN + 17, 100000};
    for (std::size_t n = 0; n <= 80; ++n) lengths.push_back(n);
    for (std::size_t n = ADLER_RUN - 40; n <= ADLER_RUN + 40; ++n) lengths.push_back(n);
    const Bytes random = random_bytes(100000 + 64, 11);
    const Bytes ones(100000 + 64, 0xFF);
    for (const Kernel& kernel : kernels) {
        if (!kernel.usable) continue;
        for (const Bytes* content : {&random, &ones}) {
            for (std::size_t length : lengths) {
                for (std::size_t align : {0u, 1u, 7u, 31u}) {
                    for (std::uint32_t initial : {1u, 0u, 0xFFF0FFF0u, 0x1234ABCDu}) {
                        const std::uint8_t* bytes = content->data() + align;
                        ASSERT_EQ(kernel.function(initial, bytes, length), reference_adler32(bytes, length, initial))
                            << kernel.name << " length " << length << " align " << align << " initial " << initial
                            << (content == &ones ? " all 0xFF" : " random");
                    }
                }
            }
        }
        // The sums near their largest where a run one byte longer would start: it would overflow.
        Bytes worst(928, 0);
        worst.resize(928 + 10178, 0xFF);
        EXPECT_EQ(kernel.function(1, worst.data(), worst.size()), reference_adler32(worst))
            << kernel.name;
    }
}

}  // namespace
