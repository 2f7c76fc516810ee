// The checksum kernels behind adler32(): a portable one, and vector ones for the
// processors that have them. All give the same value for every input.
#pragma once

#include <cstdint>

using Adler32Function = std::uint32_t (*)(std::uint32_t initial, const std::uint8_t* bytes, std::uint64_t length);

// Largest run after which neither 32-bit sum can have overflowed, starting reduced.
inline constexpr std::uint64_t ADLER_RUN = 5552;
inline constexpr std::uint32_t ADLER_MODULUS = 65521;

std::uint32_t adler32_portable(std::uint32_t initial, const std::uint8_t* bytes, std::uint64_t length);

#if defined(__SSE2__) || defined(_M_X64)
#define ORV_ADLER32_SSE2 1
std::uint32_t adler32_sse2(std::uint32_t initial, const std::uint8_t* bytes, std::uint64_t length);
#endif

// Not on Windows: its 64-bit ABI keeps the stack 16-byte aligned only, and GCC there
// may spill 32-byte vectors to misaligned slots.
#if (defined(__x86_64__) || defined(__i386__)) && !defined(_WIN32) && (defined(__GNUC__) || defined(__clang__))
#define ORV_ADLER32_AVX2 1
std::uint32_t adler32_avx2(std::uint32_t initial, const std::uint8_t* bytes, std::uint64_t length);
bool adler32_avx2_usable();
#endif
