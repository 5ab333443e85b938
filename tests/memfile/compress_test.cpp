// The run-length compressor against a reference model of its token rules.
#include <algorithm>
#include <random>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "memfile.h"
#include "memfile/compress.h"
#include "support/compress_model.h"

namespace {

using Bytes = std::vector<unsigned char>;

using tq::test::CompressModel;

// Compresses with the given capacity; the result code and the stream.
int Compress(Bytes src, int capacity, Bytes* stream) {
    stream->assign(static_cast<size_t>(std::max(capacity, 0)) + 1, 0xEE);
    int length = capacity;
    int rc = DScomp(src.data(), static_cast<int>(src.size()), stream->data(), &length);
    if (rc == 0) {
        stream->resize(static_cast<size_t>(length));
    } else {
        EXPECT_EQ(length, capacity);  // unchanged on failure
    }
    return rc;
}

Bytes Expand(Bytes stream, int capacity, int* rc) {
    Bytes out(static_cast<size_t>(capacity) + 1, 0xEE);
    int length = capacity;
    *rc = DSdecomp(stream.data(), static_cast<int>(stream.size()), out.data(), &length);
    out.resize(static_cast<size_t>(length));
    return out;
}

TEST(Compress, KnownStreams) {
    const Bytes AAAB = {0x41, 0x41, 0x41, 0x42};
    Bytes stream;
    EXPECT_EQ(Compress(AAAB, 5, &stream), 0);
    EXPECT_EQ(stream, (Bytes{0x03, 0x41, 0x01, 0x42}));
    EXPECT_EQ(Compress(AAAB, 4, &stream), -1);  // not shorter than the capacity
    EXPECT_EQ(Compress({0x41, 0x42}, 100, &stream), 0);
    EXPECT_EQ(stream, (Bytes{0x00, 0x02, 0x41, 0x42}));
    EXPECT_EQ(Compress({0x41, 0x42, 0x42, 0x42}, 100, &stream), 0);
    EXPECT_EQ(stream, (Bytes{0x00, 0x01, 0x41, 0x03, 0x42}));
    EXPECT_EQ(Compress({0x41, 0x41, 0x42}, 100, &stream), 0);
    EXPECT_EQ(stream, (Bytes{0x00, 0x03, 0x41, 0x41, 0x42}));
    EXPECT_EQ(Compress({0x41}, 100, &stream), 0);
    EXPECT_EQ(stream, (Bytes{0x01, 0x41}));
    EXPECT_EQ(Compress(Bytes(300, 0), 100, &stream), 0);
    EXPECT_EQ(stream, (Bytes{0xFF, 0x00, 0x2D, 0x00}));
    EXPECT_EQ(Compress(Bytes(256, 0), 256, &stream), 0);
    EXPECT_EQ(stream, (Bytes{0xFF, 0x00, 0x01, 0x00}));
    Bytes ascending(256);
    for (int i = 0; i < 256; ++i)
        ascending[static_cast<size_t>(i)] = static_cast<unsigned char>(i);
    EXPECT_EQ(Compress(ascending, 1000, &stream), 0);
    ASSERT_EQ(stream.size(), 259u);
    EXPECT_EQ(stream[1], 0xFF);
    EXPECT_EQ(Bytes(stream.begin() + 257, stream.end()), (Bytes{0x01, 0xFF}));
    EXPECT_EQ(Compress({}, 100, &stream), -1);
}

TEST(Compress, ExpandStopsAtTheCapacityAndRefusesBrokenStreams) {
    const Bytes stream = {0x03, 0x41, 0x01, 0x42};
    int rc;
    EXPECT_EQ(Expand(stream, 4, &rc), (Bytes{0x41, 0x41, 0x41, 0x42}));
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(Expand(stream, 3, &rc), (Bytes{0x41, 0x41, 0x41}));
    EXPECT_EQ(rc, 0);  // full: the second token is not read
    EXPECT_EQ(Expand(stream, 2, &rc).size(), 0u);
    EXPECT_EQ(rc, 2);
    EXPECT_EQ(Expand({}, 10, &rc).size(), 0u);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(Expand({0x00, 0x00}, 10, &rc).size(), 0u);
    EXPECT_EQ(rc, 2);
    EXPECT_EQ(DSlen(const_cast<unsigned char*>(stream.data()), 4), 4);
    Bytes literal = {0x00, 0x02, 0x41, 0x42};
    EXPECT_EQ(DSlen(literal.data(), 4), 2);
    // Runs of 255, two bytes each, up to INT32_MAX and beyond: a length an int
    // cannot hold is -1, also one that wraps past 2^32 to 5.
    Bytes runs(2 * 16'843'010, 0);
    for (size_t at = 0; at < runs.size(); at += 2)
        runs[at] = 0xFF;
    for (auto [full, last, expected] :
         {std::tuple{8'421'504, 127, INT32_MAX}, {8'421'504, 128, -1}, {16'843'009, 6, -1}}) {
        const auto at = static_cast<size_t>(2 * full);
        runs[at] = static_cast<unsigned char>(last);
        EXPECT_EQ(DSlen(runs.data(), 2 * full + 2), expected) << full << " runs and " << last;
        runs[at] = 0xFF;
    }

    // Missing buffers: refused, nothing read or written.
    unsigned char byte = 0x41;
    int length = 10;
    EXPECT_EQ(DScomp(nullptr, 1, &byte, &length), -1);
    EXPECT_EQ(DScomp(&byte, 1, nullptr, &length), -1);
    EXPECT_EQ(DScomp(&byte, 1, &byte, nullptr), -1);
    EXPECT_EQ(length, 10);
    EXPECT_EQ(DSdecomp(literal.data(), 4, &byte, nullptr), 2);
    EXPECT_EQ(DSdecomp(nullptr, 4, &byte, &length), 2);
    EXPECT_EQ(length, 0);
    length = 10;
    EXPECT_EQ(DSdecomp(literal.data(), 4, nullptr, &length), 2);
    EXPECT_EQ(length, 0);
    length = 0;
    EXPECT_EQ(DSdecomp(literal.data(), 4, nullptr, &length), 2);  // no room: nothing produced
    EXPECT_EQ(DSlen(nullptr, 4), -1);
    EXPECT_EQ(DSlen(nullptr, 0), 0);

    // Cut-off streams: never a read past the end, never success.
    for (Bytes cut : {Bytes{0x03}, Bytes{0x00, 0x05, 0x41}, Bytes{0x02, 0x41, 0x00}}) {
        EXPECT_EQ(DSlen(cut.data(), static_cast<int>(cut.size())), -1);
        Expand(cut, 100, &rc);
        EXPECT_EQ(rc, 2);
    }
}

TEST(Compress, MatchesTheModelAndRoundTrips) {
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        // Runs of random lengths over a small alphabet, with some noise.
        Bytes src;
        const size_t size = 1 + random() % (round % 10 == 0 ? 3000 : 600);
        const unsigned alphabet = 1 + random() % 4;
        while (src.size() < size) {
            unsigned char value = static_cast<unsigned char>(random() % alphabet);
            size_t run = random() % 4 == 0 ? random() % 600 : random() % 4;
            for (size_t k = 0; k < run && src.size() < size; ++k)
                src.push_back(value);
            if (random() % 3 == 0) src.push_back(static_cast<unsigned char>(random()));
        }
        src.resize(size);
        SCOPED_TRACE(round);
        const Bytes expected = CompressModel(src);
        const int length = static_cast<int>(expected.size());
        Bytes stream;
        ASSERT_EQ(Compress(src, length + 1, &stream), 0);
        ASSERT_EQ(stream, expected);
        EXPECT_EQ(Compress(src, length, &stream), -1);
        EXPECT_EQ(Compress(src, static_cast<int>(random() % (length + 1)), &stream), -1);

        Compress(src, length + 1, &stream);
        ASSERT_EQ(DSlen(stream.data(), length), static_cast<int>(src.size()));
        int rc;
        EXPECT_EQ(Expand(stream, static_cast<int>(src.size()), &rc), src);
        EXPECT_EQ(rc, 0);
    }
}

// Stretches of every length around the token and word sizes, at every
// offset within a word, between random bytes; and long random stretches with
// equal pairs where literal tokens are cut.
TEST(Compress, MatchesTheModelAroundTokenAndWordBoundaries) {
    std::mt19937 random(11);
    auto check = [&random](const Bytes& src) {
        const Bytes expected = CompressModel(src);
        Bytes stream;
        ASSERT_EQ(Compress(src, static_cast<int>(expected.size()) + 1, &stream), 0);
        ASSERT_EQ(stream, expected);
        // Too small: the whole tokens that fit are written, the last one only
        // with room to spare, and nothing behind them.
        const size_t capacity = random() % (expected.size() + 1);
        ASSERT_EQ(Compress(src, static_cast<int>(capacity), &stream), -1);
        size_t fits = 0;
        for (size_t at = 0; at < expected.size();) {
            const size_t end = at + 2 + (expected[at] == 0 ? expected[at + 1] : 0);
            if (end > capacity || (end == expected.size() && end == capacity)) break;
            fits = at = end;
        }
        EXPECT_EQ(Bytes(stream.begin(), stream.begin() + static_cast<long>(fits)),
                  Bytes(expected.begin(), expected.begin() + static_cast<long>(fits)));
        EXPECT_EQ(std::count(stream.begin() + static_cast<long>(fits), stream.end(), 0xEE),
                  static_cast<long>(stream.size() - fits));
    };
    for (size_t length = 1; length <= 800; length += length < 70 ? 1 : 1 + random() % 9) {
        for (size_t offset : {size_t{0}, size_t{1}, size_t{61}, size_t{62}, size_t{63}, size_t{64},
                              size_t{65}, size_t{130} + random() % 64}) {
            SCOPED_TRACE(testing::Message() << length << " at " << offset);
            Bytes src(offset);
            for (auto& b : src)
                b = static_cast<unsigned char>(random());
            src.insert(src.end(), length, 0x20);
            for (size_t tail = random() % 3 == 0 ? 0 : random() % 100; tail > 0; --tail)
                src.push_back(static_cast<unsigned char>(random()));
            check(src);
        }
    }
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        Bytes src(1 + random() % 5000);
        for (size_t k = 0; k < src.size(); ++k) {
            src[k] = static_cast<unsigned char>(random());
            if (k > 0 && random() % 7 == 0) src[k] = src[k - 1];  // pairs, some threes
        }
        check(src);
    }
}

TEST(Compress, NeighbourMasksAgree) {
    std::mt19937 random(3);
    Bytes bytes(65);
    for (int round = 0; round < 2000; ++round) {
        for (size_t k = 0; k < bytes.size(); ++k) {
            bytes[k] = static_cast<unsigned char>(random() % (1 + round % 4));
            if (round % 5 == 0) bytes[k] = static_cast<unsigned char>(random());
        }
        uint64_t expected = 0;
        for (int k = 0; k < 64; ++k) {
            if (bytes[static_cast<size_t>(k)] == bytes[static_cast<size_t>(k) + 1])
                expected |= uint64_t{1} << k;
        }
        ASSERT_EQ(tq::EqualNextMaskPortable(bytes.data()), expected);
        ASSERT_EQ(tq::EqualNextMask(bytes.data()), expected);
    }
}

}  // namespace
