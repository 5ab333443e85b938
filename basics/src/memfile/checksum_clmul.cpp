// CRC-32 by folding with carry-less multiplication, chosen at run time where
// the processor has it. The data is kept as 128-bit lanes; a lane is moved
// forward over D bits by multiplying its two halves with x^(D+32) and
// x^(D-32) mod P and adding the product to the lane D bits further on. At the
// end the lanes are folded into one and reduced to 32 bits by Barrett
// reduction.
//
// Two widths: PCLMULQDQ folds one lane per multiplication (four lanes, 64
// bytes a round); VPCLMULQDQ on 512-bit registers folds four lanes per
// multiplication (sixteen lanes, 256 bytes a round), which matters where a
// multiplication costs several cycles.
#include "memfile/checksum.h"

#if defined(__x86_64__)

#include <immintrin.h>

namespace tq {
namespace {

constexpr uint64_t kPolynomialNormal = 0x104C11DB7u;  // x^32 + ... + 1

// x^n mod P in the bit-reflected order of the lanes, shifted left by one so
// that the 33-bit product of a 64-bit half lines up with the lane.
constexpr uint64_t FoldConstant(int n) {
    uint64_t r = 1;
    for (int i = 0; i < n; ++i) {
        r <<= 1;
        if ((r >> 32) != 0) r ^= kPolynomialNormal;
    }
    uint64_t reflected = 0;
    for (int bit = 0; bit < 32; ++bit)
        reflected |= ((r >> bit) & 1u) << (31 - bit);
    return reflected << 1;
}

static_assert(FoldConstant(544) == 0x0154442bd4u && FoldConstant(480) == 0x01c6e41596u);

// The two multipliers that move a lane forward over `bits`.
struct FoldPair {
    uint64_t low;   // for the lower half: x^(bits+32)
    uint64_t high;  // for the upper half: x^(bits-32)
};

constexpr FoldPair Forward(int bits) {
    return {FoldConstant(bits + 32), FoldConstant(bits - 32)};
}

constexpr FoldPair kForward16 = Forward(128);
constexpr FoldPair kForward32 = Forward(256);
constexpr FoldPair kForward48 = Forward(384);
constexpr FoldPair kForward64 = Forward(512);
constexpr FoldPair kForward128 = Forward(1024);
constexpr FoldPair kForward256 = Forward(2048);
constexpr uint64_t kX64 = FoldConstant(64);
// Barrett reduction: P itself (33 bits, reflected) and floor(x^64 / P), reflected.
constexpr uint64_t kBarrettP = 0x01db710641u;
constexpr uint64_t kBarrettMu = 0x01f7011641u;

__attribute__((target("pclmul,sse4.1"))) inline __m128i Pair(FoldPair k) {
    return _mm_set_epi64x(static_cast<int64_t>(k.high), static_cast<int64_t>(k.low));
}

__attribute__((target("pclmul,sse4.1"))) inline __m128i Load16(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// x moved forward by the distance of k, plus next.
__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold16(__m128i x, __m128i k, __m128i next) {
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), next),
                         _mm_clmulepi64_si128(x, k, 0x11));
}

// Folds the remaining whole lanes into x, then reduces x to the 32-bit register.
__attribute__((target("pclmul,sse4.1"))) uint32_t Finish(__m128i x, const uint8_t* p,
                                                         size_t length) {
    const __m128i k = Pair(kForward16);
    for (; length >= 16; p += 16, length -= 16)
        x = Fold16(x, k, Load16(p));

    // 128 bits to 64: the lower half moves forward over 64 bits onto the upper.
    const __m128i mask = _mm_setr_epi32(~0, 0, ~0, 0);
    x = _mm_xor_si128(_mm_srli_si128(x, 8), _mm_clmulepi64_si128(x, k, 0x10));
    // 64 bits to 32 (+ 32 in the upper half).
    __m128i t = _mm_srli_si128(x, 4);
    x = _mm_clmulepi64_si128(_mm_and_si128(x, mask), _mm_cvtsi64_si128(static_cast<int64_t>(kX64)),
                             0x00);
    x = _mm_xor_si128(x, t);

    // Barrett reduction to 32 bits.
    const __m128i b =
        _mm_set_epi64x(static_cast<int64_t>(kBarrettMu), static_cast<int64_t>(kBarrettP));
    t = _mm_clmulepi64_si128(_mm_and_si128(x, mask), b, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, mask), b, 0x00);
    return static_cast<uint32_t>(_mm_extract_epi32(_mm_xor_si128(x, t), 1));
}

// length is at least 64 and a multiple of 16.
__attribute__((target("pclmul,sse4.1"))) uint32_t Fold(uint32_t reg, const uint8_t* p,
                                                       size_t length) {
    __m128i x0 = _mm_xor_si128(Load16(p), _mm_cvtsi32_si128(static_cast<int>(reg)));
    __m128i x1 = Load16(p + 16);
    __m128i x2 = Load16(p + 32);
    __m128i x3 = Load16(p + 48);
    p += 64;
    length -= 64;

    const __m128i k64 = Pair(kForward64);
    for (; length >= 64; p += 64, length -= 64) {
        x0 = Fold16(x0, k64, Load16(p));
        x1 = Fold16(x1, k64, Load16(p + 16));
        x2 = Fold16(x2, k64, Load16(p + 32));
        x3 = Fold16(x3, k64, Load16(p + 48));
    }

    // Four lanes into one: each moves over the distance to the last.
    x3 = Fold16(x2, Pair(kForward16), x3);
    x3 = Fold16(x1, Pair(kForward32), x3);
    x3 = Fold16(x0, Pair(kForward48), x3);
    return Finish(x3, p, length);
}

#define TQ_TARGET_WIDE __attribute__((target("avx512f,avx512vl,vpclmulqdq,pclmul,sse4.1")))

TQ_TARGET_WIDE inline __m512i Load64(const uint8_t* p) {
    return _mm512_loadu_si512(p);
}

TQ_TARGET_WIDE inline __m512i Fold64(__m512i x, __m512i k, __m512i next) {
    return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x, k, 0x00),
                                     _mm512_clmulepi64_epi128(x, k, 0x11), next, 0x96);
}

TQ_TARGET_WIDE inline __m512i Broadcast(FoldPair k) {
    const auto low = static_cast<int64_t>(k.low);
    const auto high = static_cast<int64_t>(k.high);
    return _mm512_set_epi64(high, low, high, low, high, low, high, low);
}

// length is at least 256 and a multiple of 16.
TQ_TARGET_WIDE uint32_t FoldWide(uint32_t reg, const uint8_t* p, size_t length) {
    __m512i x0 = _mm512_xor_si512(Load64(p),
                                  _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(reg))));
    __m512i x1 = Load64(p + 64);
    __m512i x2 = Load64(p + 128);
    __m512i x3 = Load64(p + 192);
    p += 256;
    length -= 256;

    const __m512i k256 = Broadcast(kForward256);
    for (; length >= 256; p += 256, length -= 256) {
        x0 = Fold64(x0, k256, Load64(p));
        x1 = Fold64(x1, k256, Load64(p + 64));
        x2 = Fold64(x2, k256, Load64(p + 128));
        x3 = Fold64(x3, k256, Load64(p + 192));
    }

    // Four registers into one, then whole 64-byte blocks into it.
    const __m512i k64 = Broadcast(kForward64);
    x2 = Fold64(x0, Broadcast(kForward128), x2);
    x3 = Fold64(x1, Broadcast(kForward128), x3);
    x3 = Fold64(x2, k64, x3);
    for (; length >= 64; p += 64, length -= 64)
        x3 = Fold64(x3, k64, Load64(p));

    // The four lanes of the register into the last: lane i moves over 48 - 16 i
    // bytes; the last lane is multiplied by zero and added as it is.
    const __m512i k = _mm512_set_epi64(
        0, 0, static_cast<int64_t>(kForward16.high), static_cast<int64_t>(kForward16.low),
        static_cast<int64_t>(kForward32.high), static_cast<int64_t>(kForward32.low),
        static_cast<int64_t>(kForward48.high), static_cast<int64_t>(kForward48.low));
    const __m512i moved = _mm512_xor_si512(_mm512_clmulepi64_epi128(x3, k, 0x00),
                                           _mm512_clmulepi64_epi128(x3, k, 0x11));
    // (Masked extractions: the plain ones make gcc 12 warn about its own headers.)
    const __m256i zero = _mm256_setzero_si256();
    const __m256i half = _mm256_xor_si256(_mm512_mask_extracti64x4_epi64(zero, 0xF, moved, 0),
                                          _mm512_mask_extracti64x4_epi64(zero, 0xF, moved, 1));
    __m128i x = _mm_ternarylogic_epi64(
        _mm256_castsi256_si128(half), _mm256_extracti128_si256(half, 1),
        _mm512_mask_extracti32x4_epi32(_mm_setzero_si128(), 0xF, x3, 3), 0x96);
    return Finish(x, p, length);
}

}  // namespace

bool Crc32ClmulAvailable() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
}

bool Crc32ClmulWideAvailable() {
    __builtin_cpu_init();
    return Crc32ClmulAvailable() && __builtin_cpu_supports("avx512f") &&
           __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("vpclmulqdq");
}

uint32_t Crc32Clmul(uint32_t reg, const uint8_t* data, size_t length) {
    if (length < 64) return Crc32Table(reg, data, length);
    const size_t folded = length & ~size_t{15};
    reg = Fold(reg, data, folded);
    return Crc32Table(reg, data + folded, length - folded);
}

uint32_t Crc32ClmulWide(uint32_t reg, const uint8_t* data, size_t length) {
    if (length < 256) return Crc32Clmul(reg, data, length);
    const size_t folded = length & ~size_t{15};
    reg = FoldWide(reg, data, folded);
    return Crc32Table(reg, data + folded, length - folded);
}

}  // namespace tq

#else  // no carry-less multiplication on this processor family

namespace tq {
bool Crc32ClmulAvailable() {
    return false;
}
bool Crc32ClmulWideAvailable() {
    return false;
}
uint32_t Crc32Clmul(uint32_t reg, const uint8_t* data, size_t length) {
    return Crc32Table(reg, data, length);
}
uint32_t Crc32ClmulWide(uint32_t reg, const uint8_t* data, size_t length) {
    return Crc32Table(reg, data, length);
}
}  // namespace tq

#endif
