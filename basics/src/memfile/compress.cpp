// The run-length byte compressor. Stream: tokens of (count 1..255, value) for
// runs and (0, n, n bytes) for literals, without header or end marker.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "memfile.h"
#include "memfile/compress.h"

namespace {

constexpr uint64_t kOnes = 0x0101010101010101u;

// Copies n bytes. Short copies are done as two overlapping moves instead of
// a call, never touching a byte outside the n.
inline void CopyBytes(unsigned char* to, const unsigned char* from, size_t n) {
    if (n <= 16) {
        if (n >= 8) {
            std::memcpy(to, from, 8);
            std::memcpy(to + n - 8, from + n - 8, 8);
        } else if (n >= 4) {
            std::memcpy(to, from, 4);
            std::memcpy(to + n - 4, from + n - 4, 4);
        } else if (n != 0) {
            to[0] = from[0];
            to[n / 2] = from[n / 2];
            to[n - 1] = from[n - 1];
        }
    } else if (n <= 32) {
        std::memcpy(to, from, 16);
        std::memcpy(to + n - 16, from + n - 16, 16);
    } else {
        std::memcpy(to, from, n);
    }
}

// Sets n (at least 1) bytes to value, the same way.
inline void FillBytes(unsigned char* to, unsigned char value, size_t n) {
    const uint64_t pattern = kOnes * value;
    if (n <= 16) {
        if (n >= 8) {
            std::memcpy(to, &pattern, 8);
            std::memcpy(to + n - 8, &pattern, 8);
        } else if (n >= 4) {
            std::memcpy(to, &pattern, 4);
            std::memcpy(to + n - 4, &pattern, 4);
        } else {
            to[0] = value;
            to[n / 2] = value;
            to[n - 1] = value;
        }
    } else if (n <= 32) {
        std::memcpy(to, &pattern, 8);
        std::memcpy(to + 8, &pattern, 8);
        std::memcpy(to + n - 16, &pattern, 8);
        std::memcpy(to + n - 8, &pattern, 8);
    } else {
        std::memset(to, value, n);
    }
}

// Writes tokens into dst, refusing any token that does not fit.
class TokenWriter {
public:
    TokenWriter(unsigned char* dst, int capacity) : dst_(dst), capacity_(capacity) {}

    int written() const { return written_; }

    bool Run(int count, unsigned char value) {
        if (capacity_ - written_ < 2) return false;
        dst_[written_] = static_cast<unsigned char>(count);
        dst_[written_ + 1] = value;
        written_ += 2;
        return true;
    }

    // The literal (possibly empty) in front of a run token, which needs two
    // more bytes: false when they do not fit. An empty literal writes a header
    // that the run token then overwrites, so that no branch depends on it;
    // not in front of the stream's last token, which may yet be refused and
    // must then leave those bytes alone.
    bool LiteralBeforeRun(const unsigned char* bytes, int count, bool beforeLast) {
        if (capacity_ - written_ < 2 + count) return false;
        if (count == 0 && beforeLast) return true;
        dst_[written_] = 0;
        dst_[written_ + 1] = static_cast<unsigned char>(count);
        CopyBytes(dst_ + written_ + 2, bytes, static_cast<size_t>(count));
        written_ += count != 0 ? 2 + count : 0;
        return true;
    }

    bool Literal(const unsigned char* bytes, int count) {
        if (capacity_ - written_ < 2 + count) return false;
        dst_[written_] = 0;
        dst_[written_ + 1] = static_cast<unsigned char>(count);
        CopyBytes(dst_ + written_ + 2, bytes, static_cast<size_t>(count));
        written_ += 2 + count;
        return true;
    }

private:
    unsigned char* dst_;
    int capacity_;
    int written_ = 0;
};

// Little-endian 64-bit load from any address.
inline uint64_t Load64(const unsigned char* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    return v;
}

}  // namespace

namespace tq {

uint64_t EqualNextMaskPortable(const unsigned char* p) {
    constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Fu;
    uint64_t mask = 0;
    for (int k = 0; k < 64; k += 8) {
        const uint64_t differ = Load64(p + k) ^ Load64(p + k + 1);
        // The high bit of each byte: set where the byte of differ is zero.
        const uint64_t zero = ~(((differ & kLow7) + kLow7) | differ) & ~kLow7;
        // Gathers the eight high bits into the top byte, byte 0 lowest.
        mask |= ((zero >> 7) * 0x0102040810204080u >> 56) << k;
    }
    return mask;
}

uint64_t EqualNextMask(const unsigned char* p) {
#if defined(__SSE2__)
    uint64_t mask = 0;
    for (int k = 0; k < 64; k += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k + 1));
        mask |= uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b)))} << k;
    }
    return mask;
#else
    return EqualNextMaskPortable(p);
#endif
}

}  // namespace tq

namespace {

// Equal neighbours of the 64 positions from `at`: bit k is set when byte
// at + k equals byte at + k + 1. The last byte of the input has no neighbour.
uint64_t EqualBits(const unsigned char* src, size_t at, size_t n) {
    if (at + 65 <= n) return tq::EqualNextMask(src + at);
    if (at + 1 >= n) return 0;
    unsigned char tail[80] = {};  // the end, with room behind it
    std::memcpy(tail, src + at, n - at);
    return tq::EqualNextMask(tail) & ((uint64_t{1} << (n - at - 1)) - 1);
}

}  // namespace

// The stream is cut into runs of three or more equal bytes (at most 255 to a
// token; a remainder of one or two joins the literals) and the literal bytes
// between them (at most 255 to a token; a token that would end between the
// two bytes of an equal pair ends before the pair). A last segment of one or
// two equal bytes is written as a run.
//
// Where the runs lie follows from the bytes alone: a stretch of three or more
// equal bytes begins where a byte equals its next two but not the byte before.
// The scan takes the equal-neighbour masks of 64 positions at a time and
// visits the beginnings with bit operations, so that one token does not wait
// for the search that ended the token before.
int DScomp(unsigned char* src, int srcLen, unsigned char* dst, int* dstLen) {
    if (src == nullptr || dst == nullptr || dstLen == nullptr || srcLen < 1) return -1;
    const int capacity = *dstLen;
    TokenWriter out(dst, capacity);
    const size_t n = static_cast<size_t>(srcLen);

    size_t i = 0;         // start of the literal bytes not yet written
    uint64_t before = 0;  // masks of the word before, this word and the next
    uint64_t now = EqualBits(src, 0, n);
    uint64_t next = EqualBits(src, 64, n);
    for (size_t w = 0; w * 64 < n; ++w) {
        const uint64_t triple = now & ((now >> 1) | (next << 63));
        uint64_t begins = triple & ~((now << 1) | (before >> 63));
        while (begins != 0) {
            const size_t bit = static_cast<size_t>(__builtin_ctzll(begins));
            begins &= begins - 1;
            size_t run = w * 64 + bit;
            // The stretch's last byte: the first from its beginning whose byte
            // differs from the next (the input's last byte has no next).
            size_t last;
            if (const uint64_t differ = ~now & (~uint64_t{0} << bit); differ != 0) {
                last = w * 64 + static_cast<size_t>(__builtin_ctzll(differ));
            } else {
                size_t v = w + 1;
                uint64_t equal = next;
                while (equal == ~uint64_t{0})
                    equal = EqualBits(src, ++v * 64, n);
                last = v * 64 + static_cast<size_t>(__builtin_ctzll(~equal));
            }

            // Literal bytes i .. run, in tokens of 255 (254 before a split pair).
            while (run - i > 255) {
                const int cut = src[i + 255] == src[i + 254] ? 254 : 255;
                if (!out.Literal(src + i, cut)) return -1;
                i += static_cast<size_t>(cut);
            }
            size_t length = last + 1 - run;
            const bool lastToken = run + std::min<size_t>(length, 255) == n;
            if (!out.LiteralBeforeRun(src + i, static_cast<int>(run - i), lastToken)) return -1;

            // Run tokens of at most 255; a remainder of one or two is literal.
            for (;;) {
                const size_t token = std::min<size_t>(length, 255);
                // The last token of the stream must leave room.
                if (run + token == n) {
                    if (capacity - out.written() <= 2 ||
                        !out.Run(static_cast<int>(token), src[run])) {
                        return -1;
                    }
                    *dstLen = out.written();
                    return 0;
                }
                if (!out.Run(static_cast<int>(token), src[run])) return -1;
                run += token;
                length -= token;
                if (length < 3) break;
            }
            i = run;
        }
        before = now;
        now = next;
        next = EqualBits(src, (w + 2) * 64, n);
    }

    // The last segment: 1 to 255 literal bytes; one or two equal bytes are a run.
    while (n - i > 255) {
        const int cut = src[i + 255] == src[i + 254] ? 254 : 255;
        if (!out.Literal(src + i, cut)) return -1;
        i += static_cast<size_t>(cut);
    }
    const int size = static_cast<int>(n - i);
    if (size <= 2 && src[i] == src[n - 1]) {
        if (capacity - out.written() <= 2 || !out.Run(size, src[i])) return -1;
    } else {
        if (capacity - out.written() <= 2 + size || !out.Literal(src + i, size)) return -1;
    }
    *dstLen = out.written();
    return 0;
}

int DSdecomp(unsigned char* src, int srcLen, unsigned char* dst, int* dstLen) {
    if (dstLen == nullptr) return 2;
    const int capacity = *dstLen;
    int produced = 0;
    int consumed = 0;
    if (srcLen > 0 && (src == nullptr || (dst == nullptr && capacity > 0))) {
        *dstLen = 0;
        return 2;
    }
    while (consumed < srcLen && produced < capacity) {
        // A token cut off by the end of the stream is an error, never a read past it.
        if (srcLen - consumed < 2) {
            *dstLen = produced;
            return 2;
        }
        const int first = src[consumed];
        const int second = src[consumed + 1];
        const bool run = first != 0;
        const int count = run ? first : second;
        const int size = run ? 2 : 2 + second;
        if (count > capacity - produced || srcLen - consumed < size) {
            *dstLen = produced;
            return 2;
        }
        if (run) {
            FillBytes(dst + produced, static_cast<unsigned char>(second),
                      static_cast<size_t>(count));
        } else {
            CopyBytes(dst + produced, src + consumed + 2, static_cast<size_t>(count));
        }
        produced += count;
        consumed += size;
    }
    *dstLen = produced;
    return produced == 0 && srcLen > 0 ? 2 : 0;
}

int DSlen(unsigned char* src, int srcLen) {
    if (src == nullptr) return srcLen > 0 ? -1 : 0;
    int64_t length = 0;
    int position = 0;
    while (position < srcLen) {
        if (srcLen - position < 2) return -1;  // a token cut off by the end
        const int first = src[position];
        const int second = src[position + 1];
        if (first != 0) {
            length += first;
            position += 2;
        } else {
            if (srcLen - position - 2 < second) return -1;
            length += second;
            position += 2 + second;
        }
    }
    // A stream that expands beyond what an int counts is not one of ours.
    return length <= INT32_MAX ? static_cast<int>(length) : -1;
}
