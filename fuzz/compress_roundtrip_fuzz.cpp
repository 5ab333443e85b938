// DScomp then DSlen and DSdecomp on arbitrary input: the stream follows the
// token rules and matches a reference encoder, a capacity of exactly the
// stream's length is refused and one more accepted, and the expansion gives
// the input back.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <vector>

#include "fuzz_common.h"
#include "memfile.h"
#include "support/compress_model.h"

namespace {

using Bytes = std::vector<unsigned char>;
using tq::fuzz::ExactBuffer;

// Runs of 1 or 2 only as the last token, literals of 1..255 bytes.
void CheckTokens(const Bytes& stream) {
    for (size_t at = 0; at < stream.size();) {
        FUZZ_CHECK(stream.size() - at >= 2);
        if (stream[at] != 0) {
            FUZZ_CHECK(stream[at] >= 3 || at + 2 == stream.size());
            at += 2;
        } else {
            FUZZ_CHECK(stream[at + 1] >= 1);
            at += 2 + stream[at + 1];
            FUZZ_CHECK(at <= stream.size());
        }
    }
}

// DScomp with the given capacity; the stream on success.
int Compress(const ExactBuffer& src, int capacity, Bytes* stream) {
    ExactBuffer dst(static_cast<size_t>(std::max(capacity, 0)));
    int dstLen = capacity;
    const int rc = DScomp(src.data(), static_cast<int>(src.size()), dst.data(), &dstLen);
    if (rc == 0) {
        FUZZ_CHECK(dstLen >= 0 && dstLen < capacity);
        stream->assign(dst.data(), dst.data() + dstLen);
    } else {
        FUZZ_CHECK(dstLen == capacity);  // unchanged
    }
    return rc;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const int slack = input.ConsumeIntegralInRange<int>(-20, 20);
    const Bytes bytes = input.ConsumeRemainingBytes<unsigned char>();
    const ExactBuffer src(bytes.size(), bytes.data());
    if (bytes.empty()) {
        unsigned char dst[8];
        int dstLen = sizeof dst;
        FUZZ_CHECK(DScomp(src.data(), 0, dst, &dstLen) == -1 && dstLen == sizeof dst);
        FUZZ_CHECK(DScomp(src.data(), -1, dst, &dstLen) == -1 && dstLen == sizeof dst);
        return 0;
    }

    const Bytes want = tq::test::CompressModel(bytes);
    CheckTokens(want);
    const int wantLen = static_cast<int>(want.size());

    // The usual call: the source length as capacity, success only when it saves.
    Bytes stream;
    const int srcLen = static_cast<int>(bytes.size());
    FUZZ_CHECK(Compress(src, srcLen, &stream) == (wantLen < srcLen ? 0 : -1));
    // Exactly the stream's length is refused, one more byte suffices.
    FUZZ_CHECK(Compress(src, wantLen, &stream) == -1);
    FUZZ_CHECK(Compress(src, wantLen + 1, &stream) == 0);
    FUZZ_CHECK(stream == want);
    const int capacity = std::max(0, wantLen + slack);
    stream.clear();
    FUZZ_CHECK(Compress(src, capacity, &stream) == (wantLen < capacity ? 0 : -1));
    if (wantLen < capacity) FUZZ_CHECK(stream == want);
    FUZZ_CHECK(Compress(src, std::min(slack, -1), &stream) == -1);

    // Back again, into a block of exactly the input's size.
    const ExactBuffer packed(want.size(), want.data());
    FUZZ_CHECK(DSlen(packed.data(), wantLen) == srcLen);
    ExactBuffer out(bytes.size());
    int outLen = srcLen;
    FUZZ_CHECK(DSdecomp(packed.data(), wantLen, out.data(), &outLen) == 0);
    FUZZ_CHECK(outLen == srcLen);
    FUZZ_CHECK(std::equal(bytes.begin(), bytes.end(), out.data()));
    return 0;
}
