// CRC-32 by folding with carry-less multiplication (PCLMULQDQ): four lanes of
// 16 bytes are folded 64 bytes at a time, then into one lane, then reduced to
// 32 bits by Barrett reduction. Chosen at run time where the processor has it.
#include "checksum.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include <initializer_list>

namespace tq {
namespace {

// Folding constants of the reflected polynomial: x^(4*128+32) and x^(4*128-32)
// mod P, x^(128+32) and x^(128-32) mod P, x^64 mod P, and the Barrett pair.
alignas(16) constexpr uint64_t kK1K2[2] = {0x0154442bd4u, 0x01c6e41596u};
alignas(16) constexpr uint64_t kK3K4[2] = {0x01751997d0u, 0x00ccaa009eu};
alignas(16) constexpr uint64_t kK5K0[2] = {0x0163cd6124u, 0x0000000000u};
alignas(16) constexpr uint64_t kPoly[2] = {0x01db710641u, 0x01f7011641u};

__attribute__((target("pclmul,sse4.1"))) uint32_t Fold(uint32_t reg, const uint8_t* p,
                                                       size_t length) {
    // length is at least 64 and a multiple of 16.
    __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    __m128i x3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
    __m128i x4 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48));
    x1 = _mm_xor_si128(x1, _mm_cvtsi32_si128(static_cast<int>(reg)));
    __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(kK1K2));
    p += 64;
    length -= 64;

    while (length >= 64) {
        __m128i x5 = _mm_clmulepi64_si128(x1, k, 0x00);
        __m128i x6 = _mm_clmulepi64_si128(x2, k, 0x00);
        __m128i x7 = _mm_clmulepi64_si128(x3, k, 0x00);
        __m128i x8 = _mm_clmulepi64_si128(x4, k, 0x00);
        x1 = _mm_clmulepi64_si128(x1, k, 0x11);
        x2 = _mm_clmulepi64_si128(x2, k, 0x11);
        x3 = _mm_clmulepi64_si128(x3, k, 0x11);
        x4 = _mm_clmulepi64_si128(x4, k, 0x11);
        x1 = _mm_xor_si128(_mm_xor_si128(x1, x5),
                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
        x2 = _mm_xor_si128(_mm_xor_si128(x2, x6),
                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)));
        x3 = _mm_xor_si128(_mm_xor_si128(x3, x7),
                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32)));
        x4 = _mm_xor_si128(_mm_xor_si128(x4, x8),
                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48)));
        p += 64;
        length -= 64;
    }

    // Fold the four lanes into one.
    k = _mm_load_si128(reinterpret_cast<const __m128i*>(kK3K4));
    for (__m128i next : {x2, x3, x4}) {
        __m128i x5 = _mm_clmulepi64_si128(x1, k, 0x00);
        x1 = _mm_clmulepi64_si128(x1, k, 0x11);
        x1 = _mm_xor_si128(_mm_xor_si128(x1, next), x5);
    }
    while (length >= 16) {
        __m128i x5 = _mm_clmulepi64_si128(x1, k, 0x00);
        x1 = _mm_clmulepi64_si128(x1, k, 0x11);
        x1 = _mm_xor_si128(_mm_xor_si128(x1, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
                           x5);
        p += 16;
        length -= 16;
    }

    // 128 bits to 64.
    __m128i x2b = _mm_clmulepi64_si128(x1, k, 0x10);
    const __m128i mask = _mm_setr_epi32(~0, 0, ~0, 0);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2b);
    k = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kK5K0));
    x2b = _mm_srli_si128(x1, 4);
    x1 = _mm_and_si128(x1, mask);
    x1 = _mm_clmulepi64_si128(x1, k, 0x00);
    x1 = _mm_xor_si128(x1, x2b);

    // Barrett reduction to 32 bits.
    k = _mm_load_si128(reinterpret_cast<const __m128i*>(kPoly));
    x2b = _mm_and_si128(x1, mask);
    x2b = _mm_clmulepi64_si128(x2b, k, 0x10);
    x2b = _mm_and_si128(x2b, mask);
    x2b = _mm_clmulepi64_si128(x2b, k, 0x00);
    x1 = _mm_xor_si128(x1, x2b);
    return static_cast<uint32_t>(_mm_extract_epi32(x1, 1));
}

}  // namespace

bool Crc32ClmulAvailable() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
}

uint32_t Crc32Clmul(uint32_t reg, const uint8_t* data, size_t length) {
    if (length < 64) return Crc32Table(reg, data, length);
    size_t folded = length & ~size_t{15};
    reg = Fold(reg, data, folded);
    return Crc32Table(reg, data + folded, length - folded);
}

}  // namespace tq

#else  // no carry-less multiplication on this processor family

namespace tq {
bool Crc32ClmulAvailable() {
    return false;
}
uint32_t Crc32Clmul(uint32_t reg, const uint8_t* data, size_t length) {
    return Crc32Table(reg, data, length);
}
}  // namespace tq

#endif
