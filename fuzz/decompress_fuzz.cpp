// DSdecomp and DSlen on arbitrary streams and capacities, against a reference
// decoder. Stream and output lie in heap blocks of exactly their size, so any
// read or write past them is caught. A stream that DSlen accepts expands,
// with exactly that capacity, to that many bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <vector>

#include "fuzz_common.h"
#include "memfile.h"

namespace {

using tq::fuzz::ExactBuffer;

struct Expansion {
    int rc;
    std::vector<unsigned char> bytes;
};

// The decoder's steps, written out plainly. A token cut off by the end of the
// stream ends the expansion with 2, as one that does not fit the capacity.
Expansion Reference(const unsigned char* src, int srcLen, int capacity) {
    Expansion out{0, {}};
    int consumed = 0;
    while (consumed < srcLen && static_cast<int>(out.bytes.size()) < capacity) {
        const int room = capacity - static_cast<int>(out.bytes.size());
        if (srcLen - consumed < 2) return {2, out.bytes};
        const int first = src[consumed], second = src[consumed + 1];
        if (first != 0) {
            if (first > room) return {2, out.bytes};
            out.bytes.insert(out.bytes.end(), static_cast<size_t>(first),
                             static_cast<unsigned char>(second));
            consumed += 2;
        } else {
            if (second > room || srcLen - consumed - 2 < second) return {2, out.bytes};
            out.bytes.insert(out.bytes.end(), src + consumed + 2, src + consumed + 2 + second);
            consumed += 2 + second;
        }
    }
    if (out.bytes.empty() && srcLen > 0) out.rc = 2;
    return out;
}

// -1 when a token is cut off.
int64_t ReferenceLength(const unsigned char* src, int srcLen) {
    int64_t length = 0;
    for (int at = 0; at < srcLen;) {
        if (srcLen - at < 2) return -1;
        if (src[at] != 0) {
            length += src[at];
            at += 2;
        } else {
            if (srcLen - at - 2 < src[at + 1]) return -1;
            length += src[at + 1];
            at += 2 + src[at + 1];
        }
    }
    return length;
}

void CheckDecode(const ExactBuffer& stream, int srcLen, int capacity) {
    ExactBuffer dst(static_cast<size_t>(std::max(capacity, 0)));
    int dstLen = capacity;
    const int rc = DSdecomp(stream.data(), srcLen, dst.data(), &dstLen);
    const Expansion want = Reference(stream.data(), srcLen, capacity);
    FUZZ_CHECK(rc == want.rc);
    FUZZ_CHECK(dstLen == static_cast<int>(want.bytes.size()));
    FUZZ_CHECK(std::equal(want.bytes.begin(), want.bytes.end(), dst.data()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const int capacity = input.ConsumeIntegralInRange<int>(-4, 4000);
    const std::vector<unsigned char> bytes = input.ConsumeRemainingBytes<unsigned char>();
    const int srcLen = static_cast<int>(bytes.size());
    const ExactBuffer stream(bytes.size(), bytes.data());

    // A negative length is an empty stream.
    int none = capacity;
    FUZZ_CHECK(DSlen(stream.data(), -srcLen - 1) == 0);
    FUZZ_CHECK(DSdecomp(stream.data(), -srcLen - 1, nullptr, &none) == 0 && none == 0);

    const int length = DSlen(stream.data(), srcLen);
    FUZZ_CHECK(length == ReferenceLength(stream.data(), srcLen));

    CheckDecode(stream, srcLen, capacity);
    if (length >= 0) {
        // The capacity DSlen names gives the whole expansion and success.
        ExactBuffer dst(static_cast<size_t>(length));
        int dstLen = length;
        const int rc = DSdecomp(stream.data(), srcLen, dst.data(), &dstLen);
        FUZZ_CHECK(dstLen == length);
        FUZZ_CHECK(rc == (length == 0 && srcLen > 0 ? 2 : 0));
        const Expansion want = Reference(stream.data(), srcLen, length);
        FUZZ_CHECK(std::equal(want.bytes.begin(), want.bytes.end(), dst.data()));
        // One byte less and one more.
        if (length > 0) CheckDecode(stream, srcLen, length - 1);
        CheckDecode(stream, srcLen, length + 1);
    }
    // A stream read only up to a cut: nothing past the shorter length is read.
    if (srcLen > 0) {
        const int cut = srcLen - 1;
        const ExactBuffer shorter(static_cast<size_t>(cut), bytes.data());
        FUZZ_CHECK(DSlen(shorter.data(), cut) == ReferenceLength(shorter.data(), cut));
        CheckDecode(shorter, cut, capacity);
    }
    return 0;
}
