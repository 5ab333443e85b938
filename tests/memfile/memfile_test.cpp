// MemFile: the growth policy, failures, positions and byte moves.
#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kvbasics.h"

namespace {

struct Geometry {
    int count;
    int shift;
};

Geometry Of(const MemFile& f) {
    return {f.GetSegmentCount(), f.GetSegmentShift()};
}

bool operator==(Geometry a, Geometry b) {
    return a.count == b.count && a.shift == b.shift;
}
std::ostream& operator<<(std::ostream& out, Geometry g) {
    return out << g.count << " segments of 2^" << g.shift;
}

std::string Text(MemFile& f) {
    return std::string(reinterpret_cast<char*>(f.GetBuffer()),
                       static_cast<size_t>(f.GetLogicalSize()));
}

void Fill(MemFile& f, const std::string& text) {
    ASSERT_EQ(f.SizeSet(0, 0), 0);
    ASSERT_EQ(f.Put(reinterpret_cast<const unsigned char*>(text.data()), 0,
                    static_cast<int>(text.size())),
              static_cast<int>(text.size()));
}

TEST(MemFile, GrowthPolicyWorkedValues) {
    MemFile f;
    // size -> segment count, shift; 900 keeps the block, 10 goes back to the first shift.
    const int steps[][3] = {{1, 1, 3},   {100, 7, 4},       {1000, 4, 8}, {900, 4, 8},
                            {600, 3, 8}, {1000000, 31, 15}, {10, 2, 3},   {0, 0, 3}};
    for (const auto& [size, count, shift] : steps) {
        f.SizeSet(size, 0);
        EXPECT_EQ(Of(f), (Geometry{count, shift})) << size;
        EXPECT_EQ(f.GetLogicalSize(), size);
    }
    EXPECT_EQ(f.GetBuffer(), nullptr);
    for (auto [segment, shift] : {std::pair{0, 0}, {1, 0}, {1000, 9}, {65536, 16}})
        EXPECT_EQ(MemFile(0, segment).GetSegmentShift(), shift) << segment;
    MemFile wide(100000, 65536);  // a larger first shift is kept
    EXPECT_EQ(Of(wide), (Geometry{2, 16}));
}

// The growth policy step by step from its rules, in wide integers: segment
// count, shift and logical size after each SizeSet.
struct GrowthModel {
    int64_t count = 0, logical = 0;
    int shift, initial;

    void SizeSet(int64_t size) {
        if (size == 0) {
            count = logical = 0;
            shift = initial;
            return;
        }
        const int64_t allocated = count << shift;
        auto segments = [&] { return (size + (int64_t{1} << shift) - 1) >> shift; };
        int64_t n = segments();
        if (size < logical && n <= 1 && shift > initial) {
            for (; shift > initial; --shift)
                count *= 2;  // the same bytes in smaller segments
            n = segments();
        }
        bool larger = false;
        for (; n > 7 && shift < 15; ++shift, larger = true)
            n = (n + 1) / 2;
        if (larger) count = (allocated + (int64_t{1} << shift) - 1) >> shift;
        logical = size;
        if (allocated != 0 && n << shift == allocated) return;
        count = n;
    }
};

TEST(MemFile, GrowthPolicyFollowsAModelOverRandomSizes) {
    std::mt19937 rng(17);
    for (int segmentSize : {0, 1, 8, 100, 4096, 65536}) {
        MemFile f(0, segmentSize);
        GrowthModel model{0, 0, f.GetSegmentShift(), f.GetSegmentShift()};
        for (int step = 0; step < 400; ++step) {
            int64_t size = 0;
            switch (rng() % 5) {
                case 0:  // what one or two first segments hold
                    size = rng() % ((int64_t{2} << model.initial) + 1);
                    break;
                case 1:
                    size = rng() % 10 == 0 ? 0 : model.logical - 1 + rng() % 3;
                    break;
                default:  // up to 4 MiB, spread over the magnitudes
                    size = int64_t{1} << (rng() % 22);
                    size += rng() % size;
            }
            size = std::max<int64_t>(size, 0);
            ASSERT_EQ(f.SizeSet(int(size), 0), 0);
            model.SizeSet(size);
            ASSERT_EQ(f.GetSegmentCount(), model.count) << segmentSize << " step " << step;
            ASSERT_EQ(f.GetSegmentShift(), model.shift) << segmentSize << " step " << step;
            ASSERT_EQ(f.GetAllocatedSize(), model.count << model.shift) << segmentSize;
            ASSERT_EQ(f.GetLogicalSize(), size);
            ASSERT_EQ(f.GetBuffer() == nullptr, size == 0);
        }
    }
}

TEST(MemFile, CopyDeleteAndInitializeAgainstAModel) {
    std::mt19937 random(3);
    for (int round = 0; round < 500; ++round) {
        std::string model(1 + random() % 300, ' ');
        for (char& c : model)
            c = static_cast<char>('a' + random() % 26);
        MemFile f;
        Fill(f, model);
        const int size = static_cast<int>(model.size());
        const int src = static_cast<int>(random() % static_cast<unsigned>(size));
        const int length = static_cast<int>(random() % static_cast<unsigned>(size - src + 1));
        const int dst = static_cast<int>(random() % static_cast<unsigned>(size + 20));
        if (dst + length > size) model.resize(static_cast<size_t>(dst + length), '?');
        std::memmove(model.data() + dst, model.data() + src, static_cast<size_t>(length));
        auto expectModel = [&] {  // '?' grew unset
            const std::string got = Text(f);
            ASSERT_EQ(got.size(), model.size());
            for (size_t i = 0; i < model.size(); ++i)
                if (model[i] != '?') {
                    ASSERT_EQ(got[i], model[i]) << i;
                }
        };
        ASSERT_EQ(f.Copy(dst, src, length), length);
        ASSERT_NO_FATAL_FAILURE(expectModel());
        // The offset may be the logical end; the file shrinks by the growth policy.
        const unsigned offset = random() % (model.size() + 1);
        const unsigned count = random() % (model.size() - offset + 1);
        GrowthModel shrunk{f.GetSegmentCount(), f.GetLogicalSize(), f.GetSegmentShift(), 3};
        shrunk.SizeSet(f.GetLogicalSize() - int(count));
        EXPECT_EQ(f.Delete(offset, count), 0);
        model.erase(offset, count);
        ASSERT_NO_FATAL_FAILURE(expectModel());
        ASSERT_EQ(Of(f), (Geometry{int(shrunk.count), shrunk.shift}));
    }
    MemFile f(4000);  // 4 segments of 1024
    f.SetLogicalSize(4);
    f.Delete(5, 0);  // beyond the end: nothing happens
    EXPECT_EQ(Of(f), (Geometry{4, 10}));
    f.Delete(4, 0);
    EXPECT_EQ(Of(f), (Geometry{1, 10}));
    Fill(f, "0123456789");
    f.InitializeWith('z', 7);
    EXPECT_EQ(Text(f), "0123456zzz");
    f.InitializeWith('q', 10);
    EXPECT_EQ(Text(f), "0123456zzz");
}

TEST(MemFile, SeekAndCrossFileCopiesAndAssignment) {
    // Seek from position 3 of ten digits: the digit it points at (0: null),
    // the usable length and the position after. Origin 2 counts back from the
    // end; any origin but 1 and 2 counts from the start.
    struct {
        unsigned short origin;
        int offset, wanted;  // wanted -1: no length asked for
        char at;
        unsigned length;
        int position;
    } const seeks[] = {
        {0, 7, 2, '7', 2, 7}, {0, 8, 5, '8', 2, 8},    {0, 10, 1, 0, 0, 3},   {5, 4, 1, '4', 1, 4},
        {1, 2, 4, '5', 4, 5}, {1, -3, 10, '0', 10, 0}, {1, 7, 1, 0, 0, 3},    {2, 4, 4, '6', 4, 6},
        {2, 4, 8, '6', 4, 6}, {2, 10, 3, '0', 3, 0},   {2, 1, -1, '9', 0, 9}, {2, 0, 1, 0, 0, 3},
        {2, -2, 1, 0, 0, 3},
    };
    MemFile digits;
    Fill(digits, "0123456789");
    for (const auto& s : seeks) {
        digits.Seek(3, 0, nullptr);
        unsigned length = static_cast<unsigned>(s.wanted);
        const unsigned char* p =
            digits.Seek(s.offset, s.origin, s.wanted < 0 ? nullptr : &length, 0);
        SCOPED_TRACE(testing::Message() << s.origin << ", " << s.offset << ", " << s.wanted);
        EXPECT_EQ(p == nullptr ? '\0' : static_cast<char>(*p), s.at);
        if (s.wanted >= 0) {
            EXPECT_EQ(length, s.length);
        }
        EXPECT_EQ(digits.GetPosition(), s.position);
    }

    MemFile a, b;
    Fill(a, "hello world");
    a.Seek(3, 0, nullptr);
    b.Seek(0, 0, nullptr);
    EXPECT_EQ(b.Put(&a, 5, 6), 5u);  // "world" from offset 6
    EXPECT_EQ(Text(b), "world");
    EXPECT_EQ(a.GetPosition(), 3);  // the source position comes back
    b.Seek(5, 0, nullptr);
    EXPECT_EQ(b.Put(&a, 0, 5), 6u);  // 0: to the end of the source
    EXPECT_EQ(Text(b), "world world");
    // From a file into itself: to its position, which stays, not onto the source range.
    b.Seek(8, 0, nullptr);
    EXPECT_EQ(b.Put(&b, 5, 0), 5u);
    EXPECT_EQ(Text(b), "world woworld");
    EXPECT_EQ(b.GetPosition(), 8);
    b.Seek(0, 0, nullptr);
    EXPECT_EQ(b.Put(&b, 0, 6), 7u);  // the ranges overlap
    EXPECT_EQ(Text(b), "woworldoworld");
    EXPECT_EQ(b.GetPosition(), 0);
    Fill(b, "world world");

    // From the source's position, clipped at its logical end (an unclipped
    // read of 8 would stay inside the 16-byte block, unseen by the sanitizer).
    for (auto [length, copied] : {std::pair{3u, 3u}, {8u, 5u}}) {
        MemFile c;
        a.Seek(6, 0, nullptr);
        EXPECT_EQ(a.Get(&c, length, 2), copied);
        EXPECT_EQ(c.GetLogicalSize(), int(2 + copied));
        EXPECT_EQ(std::memcmp(c.GetBuffer() + 2, "world", copied), 0);
    }

    MemFile copy(a);
    EXPECT_EQ(Text(copy), "hello world");
    copy.Seek(4, 0, nullptr);
    MemFile& same = copy;
    copy = same;
    EXPECT_EQ(copy.GetPosition(), 0);
    EXPECT_EQ(Text(copy), "hello world");
    MemFile empty;
    copy = empty;
    EXPECT_EQ(copy.GetBuffer(), nullptr);
    copy = a;
    EXPECT_EQ(Text(copy), "hello world");
    copy.Exchange(&b);
    EXPECT_EQ(Text(copy), "world world");
    EXPECT_EQ(Text(b), "hello world");

    b.SetSizeZeroAndShrink(1 << 20);  // small enough: the block stays
    EXPECT_NE(b.GetBuffer(), nullptr);
    EXPECT_EQ(b.GetLogicalSize(), 0);
    b.SetSizeZeroAndShrink(0);
    EXPECT_EQ(b.GetBuffer(), nullptr);
}

TEST(MemFile, WriteAndCheckSum) {
    MemFile f;
    int status = -1;
    EXPECT_EQ(f.Write(0x04030201u, status), 4u);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(f.GetLogicalSize(), 4);
    EXPECT_EQ(f.GetAllocatedSize(), 8);
    EXPECT_EQ(f.GetPosition(), 4);
    EXPECT_EQ(std::memcmp(f.GetBuffer(), "\x01\x02\x03\x04", 4), 0);

    unsigned int start = 77;
    MemFile empty;
    EXPECT_EQ(empty.CheckSum(0, 0xFFFFFFFFu, &start), 77u);
    Fill(f, "xx123456789");
    EXPECT_EQ(f.CheckSum(2, 0xFFFFFFFFu, nullptr), 0xCBF43926u);
    EXPECT_EQ(f.GetPosition(), 2);
    EXPECT_EQ(f.CheckSum(2, 100, nullptr), 0xCBF43926u);  // clipped at the end
    unsigned int head = f.CheckSum(2, 4, nullptr);
    EXPECT_EQ(f.CheckSum(6, 5, &head), 0xCBF43926u);
    EXPECT_EQ(f.CheckSum(11, 5, &start), 77u);
    EXPECT_EQ(f.GetPosition(), 6);  // past the end: the position stays
}

// The segments lie back to back in the one block; growing without shrinking
// keeps the block when it is large enough; a write at a position the block no
// longer holds (the logical size was cut below it) is refused.
TEST(MemFile, SegmentsSizeSetDontShrinkAndWriteOutsideTheBlock) {
    MemFile f(4000);  // 4 segments of 1024
    EXPECT_EQ(f.GetSegment(2), f.GetBuffer() + 2048);
    unsigned char* block = f.GetBuffer();
    EXPECT_EQ(f.SizeSetDontShrink(100, 0), 0);
    EXPECT_EQ(f.GetLogicalSize(), 100);
    EXPECT_EQ(f.GetBuffer(), block);
    EXPECT_EQ(f.SizeSetDontShrink(-5, 0), 0);
    EXPECT_EQ(f.GetLogicalSize(), 0);
    EXPECT_EQ(Of(f), (Geometry{4, 10}));
    EXPECT_EQ(f.SizeSetDontShrink(5000, 0), 0);
    EXPECT_EQ(f.GetLogicalSize(), 5000);
    EXPECT_GE(f.GetAllocatedSize(), 5000);

    MemFile small;
    Fill(small, "abcdef");  // an 8-byte block
    small.Seek(5, 0, nullptr);
    ASSERT_EQ(small.SetLogicalSize(0), 0);  // the position stays at 5
    int status = 0;
    EXPECT_EQ(small.Write(0x01020304u, status), 4u);
    EXPECT_EQ(status, KV_MEMFILE_BEYOND_ALLOCATED);
    EXPECT_EQ(small.GetPosition(), 5);
    EXPECT_EQ(small.GetLogicalSize(), 0);  // a refused write leaves the file as it was
}

}  // namespace
