// The run-length byte compressor. Stream: tokens of (count 1..255, value) for
// runs and (0, n, n bytes) for literals, without header or end marker.
#include <cstdint>
#include <cstring>

#include "memfile.h"

namespace {

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

    bool Literal(const unsigned char* bytes, int count) {
        if (capacity_ - written_ < 2 + count) return false;
        dst_[written_] = 0;
        dst_[written_ + 1] = static_cast<unsigned char>(count);
        std::memcpy(dst_ + written_ + 2, bytes, static_cast<size_t>(count));
        written_ += 2 + count;
        return true;
    }

private:
    unsigned char* dst_;
    int capacity_;
    int written_ = 0;
};

}  // namespace

int DScomp(unsigned char* src, int srcLen, unsigned char* dst, int* dstLen) {
    if (src == nullptr || dst == nullptr || dstLen == nullptr || srcLen < 1) return -1;
    const int capacity = *dstLen;
    TokenWriter out(dst, capacity);

    // The pending segment: size bytes from start, whose last run bytes equal cur.
    int start = 0;
    int size = 1;
    int run = 1;
    unsigned char cur = src[0];
    for (int i = 1; i < srcLen; ++i) {
        if (out.written() >= capacity) break;
        const unsigned char b = src[i];
        if (b == cur) {
            ++size;
            ++run;
            if (size == run) {
                if (run == 256) {  // a full run token; this byte begins the next run
                    if (!out.Run(255, cur)) return -1;
                    start = i;
                    size = run = 1;
                }
            } else if (run > 2 || size == 256) {  // flush the literals before the run
                if (!out.Literal(src + start, size - run)) return -1;
                start += size - run;
                size = run;
            }
        } else if (run > 2) {
            if (!out.Run(run, cur)) return -1;
            start = i;
            size = run = 1;
            cur = b;
        } else {  // a run of one or two bytes joins the literals
            ++size;
            if (size == 256) {
                if (!out.Literal(src + start, 255)) return -1;
                start = i;
                size = 1;
            }
            run = 1;
            cur = b;
        }
    }

    // The last token must leave the stream shorter than the capacity.
    if (size > run) {
        if (capacity - out.written() <= 2 + size || !out.Literal(src + start, size)) return -1;
    } else {
        if (capacity - out.written() <= 2 || !out.Run(size, cur)) return -1;
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
        if (first != 0) {
            if (first > capacity - produced) {
                *dstLen = produced;
                return 2;
            }
            std::memset(dst + produced, second, static_cast<size_t>(first));
            produced += first;
            consumed += 2;
        } else {
            if (second > capacity - produced || srcLen - consumed - 2 < second) {
                *dstLen = produced;
                return 2;
            }
            std::memcpy(dst + produced, src + consumed + 2, static_cast<size_t>(second));
            produced += second;
            consumed += 2 + second;
        }
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
