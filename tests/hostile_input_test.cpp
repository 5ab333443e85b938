// Bad input at the edges of the interface: null pointers, zero, negative and
// overflowing lengths, indexes at and past the end, codes at the ends of every
// range and hostile names. Each call must answer with its result code and
// touch nothing outside the caller's memory: guard bytes catch stray writes
// here, exact-size heap blocks let the sanitizers and valgrind catch stray
// reads.
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "kvbasics.h"
#include "perf_registry.h"
#include "platform/clock.h"
#include "platform/registry_store.h"
#include "platform_services.h"
#include "prfdata_items.h"
#include "support/test_env.h"
#include "util/utf.h"

namespace {

using Bytes = std::vector<unsigned char>;

constexpr unsigned char kGuardByte = 0xA5;
constexpr size_t kGuard = 16;

// n bytes for a callee to write into, between guard bytes.
class Guarded {
public:
    explicit Guarded(size_t n, unsigned char fill = 0) : n_(n), bytes_(n + 2 * kGuard, kGuardByte) {
        std::memset(bytes_.data() + kGuard, fill, n);
    }
    unsigned char* data() { return bytes_.data() + kGuard; }
    char* chars() { return reinterpret_cast<char*>(data()); }
    Bytes Contents() const { return Bytes(bytes_.begin() + kGuard, bytes_.end() - kGuard); }
    bool Intact() const {
        auto guard = [](unsigned char b) { return b == kGuardByte; };
        return std::all_of(bytes_.begin(), bytes_.begin() + kGuard, guard) &&
               std::all_of(bytes_.end() - kGuard, bytes_.end(), guard);
    }

private:
    size_t n_;
    Bytes bytes_;
};

// A heap block that ends exactly where bytes end; they start pad bytes in, so
// that they may lie at any alignment.
class Exact {
public:
    explicit Exact(const Bytes& bytes, size_t pad = 0)
        : block_(new unsigned char[pad + bytes.size()]), data_(block_.get() + pad) {
        if (!bytes.empty()) std::memcpy(data_, bytes.data(), bytes.size());
    }
    explicit Exact(const std::string& text) : Exact(Bytes(text.begin(), text.end())) {}
    unsigned char* get() const { return data_; }
    char* chars() const { return reinterpret_cast<char*>(data_); }

private:
    std::unique_ptr<unsigned char[]> block_;
    unsigned char* data_;
};

Bytes Pattern(size_t n, unsigned seed = 1) {
    Bytes bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<unsigned char>((i * 7 + seed) * 13 >> 2);
    return bytes;
}

int g_handlerCalls = 0;
int CountingHandler(unsigned long long) {
    ++g_handlerCalls;
    return 0;
}

// A memory handler that counts instead of failing an assertion.
class HandlerScope {
public:
    HandlerScope() : previous_(mmKvSetHandler(CountingHandler)) { g_handlerCalls = 0; }
    ~HandlerScope() { mmKvSetHandler(previous_); }

private:
    KvMemoryHandler previous_;
};

// ---------------------------------------------------------------------------
// Checksums and compression
// ---------------------------------------------------------------------------

uint32_t ReferenceCrc(const unsigned char* data, size_t n, uint32_t previous) {
    uint32_t reg = ~previous;
    for (size_t i = 0; i < n; ++i) {
        reg ^= data[i];
        for (int k = 0; k < 8; ++k)
            reg = (reg >> 1) ^ (0xEDB88320u & (0u - (reg & 1u)));
    }
    return ~reg;
}

TEST(HostileInput, ChecksumsOfNullEmptyAndExactRanges) {
    unsigned int previous = 0x12345678u;
    unsigned char one = 7;
    EXPECT_EQ(CalcCheckSum(nullptr, 0, nullptr), 0u);
    EXPECT_EQ(CalcCheckSum(nullptr, 0xFFFFFFFFu, nullptr), 0u);
    EXPECT_EQ(CalcCheckSum(nullptr, 100, &previous), 0x12345678u);
    EXPECT_EQ(CalcCheckSum(&one, 0, &previous), 0x12345678u);
    EXPECT_EQ(previous, 0x12345678u);  // only read

    // Every length across the widths of the folding engines, from every start
    // within a word, on blocks that end where the data ends.
    const Bytes data = Pattern(260);
    for (size_t n = 0; n <= data.size(); n += n < 80 ? 1 : 17) {
        for (size_t pad = 0; pad < 8; ++pad) {
            Exact block(Bytes(data.begin(), data.begin() + static_cast<long>(n)), pad);
            ASSERT_EQ(CalcCheckSum(block.get(), static_cast<unsigned>(n), nullptr),
                      ReferenceCrc(data.data(), n, 0))
                << n << " bytes at +" << pad;
        }
    }

    // MemFile::CheckSum clips every range at the logical end.
    MemFile file;
    ASSERT_EQ(file.Put(data.data(), 0, 100), 100);
    struct Range {
        unsigned offset, length;
        size_t from, count;
    };
    // clang-format off
    const Range ranges[] = {{0, 0xFFFFFFFFu, 0, 100}, {99, 0xFFFFFFFFu, 99, 1}, {1, 0xFFFFFFFEu, 1, 99},
                            {50, 0x80000000u, 50, 50}, {0, 0, 0, 0}, {100, 1, 0, 0},
                            {0xFFFFFFFFu, 1, 0, 0}, {0xFFFFFFFFu, 0xFFFFFFFFu, 0, 0}};
    // clang-format on
    for (const Range& r : ranges) {
        unsigned int running = 0xCAFEF00Du;
        EXPECT_EQ(
            file.CheckSum(r.offset, r.length, &running),
            r.count != 0 ? ReferenceCrc(data.data() + r.from, r.count, 0xCAFEF00Du) : 0xCAFEF00Du)
            << r.offset << "+" << r.length;
        EXPECT_EQ(file.CheckSum(r.offset, r.length, nullptr),
                  ReferenceCrc(data.data() + r.from, r.count, 0));
    }
}

std::vector<Bytes> CompressionSamples() {
    Bytes mixed = Pattern(70, 3);
    mixed.insert(mixed.end(), 300, 0x42);
    Bytes tail = Pattern(5, 9);
    mixed.insert(mixed.end(), tail.begin(), tail.end());
    mixed.insert(mixed.end(), 2, 0x17);
    return {{7}, {1, 2}, {9, 9, 9}, Bytes(255, 4), Bytes(600, 0), Pattern(300), mixed};
}

TEST(HostileInput, CompressionAtEveryCapacityAndOnBrokenStreams) {
    for (const Bytes& sample : CompressionSamples()) {
        SCOPED_TRACE(sample.size());
        const Exact src(sample);
        const int n = static_cast<int>(sample.size());
        Bytes stream(2 * sample.size() + 16);
        int length = static_cast<int>(stream.size());
        ASSERT_EQ(DScomp(src.get(), n, stream.data(), &length), 0);
        stream.resize(static_cast<size_t>(length));

        // The stream must be shorter than the capacity; nothing is written past it.
        for (int capacity : {INT_MIN, -1, 0, 1, 2, 3, length - 1, length, length + 1, length + 2}) {
            Guarded dst(static_cast<size_t>(std::max(capacity, 0)));
            int room = capacity;
            const int rc = DScomp(src.get(), n, dst.data(), &room);
            EXPECT_TRUE(dst.Intact()) << capacity;
            if (capacity > length) {
                EXPECT_EQ(rc, 0);
                EXPECT_EQ(room, length);
                EXPECT_TRUE(std::equal(stream.begin(), stream.end(), dst.data()));
            } else {
                EXPECT_EQ(rc, -1) << capacity;
                EXPECT_EQ(room, capacity);
            }
        }

        // Expansion stops at the capacity and never writes past it.
        const Exact packed(stream);
        for (int capacity : {INT_MIN, -1, 0, 1, n - 1, n, n + 1, n + 64}) {
            Guarded dst(static_cast<size_t>(std::max(capacity, 0)));
            int room = capacity;
            const int rc = DSdecomp(packed.get(), length, dst.data(), &room);
            EXPECT_TRUE(dst.Intact()) << capacity;
            ASSERT_GE(room, 0);
            ASSERT_LE(room, std::max(capacity, 0));
            EXPECT_TRUE(std::equal(dst.data(), dst.data() + room, sample.begin()));
            if (capacity >= n) {
                EXPECT_EQ(std::make_pair(rc, room), std::make_pair(0, n));
            }
            if (capacity <= 0) {
                EXPECT_EQ(std::make_pair(rc, room), std::make_pair(2, 0));
            }
        }

        // A stream cut anywhere: 2 exactly when the cut lies inside a token.
        for (int cut = 0; cut < length; ++cut) {
            const Exact part(Bytes(stream.begin(), stream.begin() + cut));
            const int expanded = DSlen(part.get(), cut);
            Guarded dst(sample.size());
            int room = n;
            const int rc = DSdecomp(part.get(), cut, dst.data(), &room);
            EXPECT_TRUE(dst.Intact());
            EXPECT_TRUE(std::equal(dst.data(), dst.data() + room, sample.begin()));
            if (expanded < 0) {
                EXPECT_EQ(rc, 2) << cut;
            } else {
                EXPECT_EQ(std::make_pair(rc, room), std::make_pair(0, expanded)) << cut;
            }
        }
    }

    // Null pointers and lengths that are not positive; (result, room after).
    unsigned char some[4] = {1, 2, 3, 4};
    Guarded out(8);
    using Call = int (*)(unsigned char*, int, unsigned char*, int*);
    auto call = [](Call f, unsigned char* src, int n, unsigned char* dst, int room) {
        const int rc = f(src, n, dst, &room);
        return std::make_pair(rc, room);
    };
    EXPECT_EQ(call(DScomp, nullptr, 4, out.data(), 8), std::make_pair(-1, 8));
    EXPECT_EQ(call(DScomp, some, 4, nullptr, 8), std::make_pair(-1, 8));
    for (int bad : {INT_MIN, -1, 0})
        EXPECT_EQ(call(DScomp, some, bad, out.data(), 8), std::make_pair(-1, 8));
    EXPECT_EQ(DScomp(some, 4, out.data(), nullptr), -1);
    EXPECT_EQ(call(DSdecomp, nullptr, 0, nullptr, 8), std::make_pair(0, 0));
    for (int bad : {INT_MIN, -1})
        EXPECT_EQ(call(DSdecomp, some, bad, out.data(), 8), std::make_pair(0, 0));
    EXPECT_EQ(call(DSdecomp, nullptr, 2, out.data(), 8), std::make_pair(2, 0));
    EXPECT_EQ(call(DSdecomp, some, 4, nullptr, 8), std::make_pair(2, 0));
    EXPECT_EQ(DSdecomp(some, 4, out.data(), nullptr), 2);
    // Tokens that promise more than the stream or the capacity holds.
    const Exact shortLiteral(Bytes{0, 255, 1, 2, 3}), longRun(Bytes{200, 7});
    EXPECT_EQ(call(DSdecomp, shortLiteral.get(), 5, out.data(), 8), std::make_pair(2, 0));
    EXPECT_EQ(call(DSdecomp, longRun.get(), 2, out.data(), 8), std::make_pair(2, 0));
    EXPECT_EQ(out.Contents(), Bytes(8, 0));
    EXPECT_TRUE(out.Intact());

    for (int none : {INT_MIN, -1, 0})
        EXPECT_EQ(DSlen(nullptr, none), 0);
    EXPECT_EQ(DSlen(nullptr, 1), -1);
    EXPECT_EQ(DSlen(some, INT_MIN), 0);
    EXPECT_EQ(DSlen(shortLiteral.get(), 5), -1);
    EXPECT_EQ(DSlen(longRun.get(), 1), -1);
}

// ---------------------------------------------------------------------------
// Value encoding and character fields
// ---------------------------------------------------------------------------

TEST(HostileInput, ValueEncodingMovesExactlyCountValues) {
    using Convert = unsigned int (*)(void*, const void*, unsigned char, unsigned int);
    struct Codec {
        const char* name;
        Convert convert;
        unsigned width;
        unsigned char mask;  // of the format bits that name the byte order; 0: plain copy
    };
    // clang-format off
    const Codec codecs[] = {
        {"CharStore", CharStore, 1, 0}, {"ShortStore", ShortStore, 2, 0x0F},
        {"LongStore", LongStore, 4, 0x0F}, {"O_8BStore", O_8BStore, 8, 0x0F},
        {"IntStore", IntStore, 4, 0x0F}, {"IntLoad", IntLoad, 4, 0x0F},
        {"UnsignedStore", UnsignedStore, 4, 0x0F}, {"UnsignedLoad", UnsignedLoad, 4, 0x0F},
        {"FloatStore", FloatStore, 4, 0x7F}, {"DoubleStore", DoubleStore, 8, 0x7F}};
    // clang-format on
    for (const Codec& codec : codecs) {
        SCOPED_TRACE(codec.name);
        for (unsigned char format : {0x00, 0x01, 0x02, 0x12, 0x82, 0xFF}) {
            EXPECT_EQ(codec.convert(nullptr, nullptr, format, 0), 0u);
            for (unsigned count = 1; count <= 5; ++count) {
                const Bytes image = Pattern(count * codec.width, count + format);
                Bytes expected = image;
                if (codec.mask != 0 && (format & codec.mask) == KV_FORMAT_PORTABLE) {
                    for (size_t at = 0; at < expected.size(); at += codec.width)
                        std::reverse(expected.begin() + static_cast<long>(at),
                                     expected.begin() + static_cast<long>(at + codec.width));
                }
                const Exact src(image, 3);  // at an odd address, ending with the block
                Guarded dst(image.size() + 1);
                EXPECT_EQ(codec.convert(dst.data() + 1, src.get(), format, count),
                          count * codec.width);
                EXPECT_TRUE(dst.Intact());
                EXPECT_EQ(dst.data()[0], 0);
                EXPECT_TRUE(std::equal(expected.begin(), expected.end(), dst.data() + 1));
            }
        }
    }

    // Character fields: lengths that are not positive touch nothing.
    for (int len : {INT_MIN, -1, 0}) {
        ldchar(nullptr, len, nullptr);
        stchar(nullptr, nullptr, len);
    }
    // A field without a blank fills exactly len bytes, without a terminator.
    const std::string text = "abcdefgh";
    for (int len = 1; len <= 8; ++len) {
        const Exact field(text.substr(0, static_cast<size_t>(len)));
        Guarded str(static_cast<size_t>(len));
        ldchar(field.chars(), len, str.chars());
        EXPECT_TRUE(str.Intact());
        EXPECT_EQ(std::string(str.chars(), static_cast<size_t>(len)), text.substr(0, len));
    }
    // A blank ends the copy; the terminator takes its place.
    const Exact blanked(std::string("ab cd"));
    Guarded str(5, 0x11);
    ldchar(blanked.chars(), 5, str.chars());
    EXPECT_EQ(str.Contents(), (Bytes{'a', 'b', 0, 0x11, 0x11}));
    // stchar cuts at len and pads with blanks; it reads no further than the terminator.
    const Exact longText(std::string("abcdefgh", 9)), shortText(std::string("ab", 3));
    Guarded narrow(4), wide(10);
    stchar(longText.chars(), narrow.chars(), 4);
    stchar(shortText.chars(), wide.chars(), 10);
    EXPECT_TRUE(narrow.Intact() && wide.Intact());
    EXPECT_EQ(std::string(narrow.chars(), 4), "abcd");
    EXPECT_EQ(std::string(wide.chars(), 10), "ab        ");
}

// ---------------------------------------------------------------------------
// Memory file and queue
// ---------------------------------------------------------------------------

constexpr int kFileSize = 100;

void Fill(MemFile& file, const Bytes& bytes) {
    file.SizeSet(0, 0);
    ASSERT_EQ(file.Put(bytes.data(), 0, static_cast<int>(bytes.size())),
              static_cast<int>(bytes.size()));
}

Bytes ContentsOf(MemFile& file) {
    Bytes bytes(static_cast<size_t>(file.GetLogicalSize()));
    if (!bytes.empty()) file.Get(bytes.data(), 0, static_cast<int>(bytes.size()));
    return bytes;
}

TEST(HostileInput, MemFileSeekFollowsItsModelForEveryOffsetAndOrigin) {
    MemFile file;
    Fill(file, Pattern(kFileSize));
    const int offsets[] = {INT_MIN, INT_MIN + 1, -101, -100, -1,          0,      1,
                           40,      99,          100,  101,  INT_MAX - 1, INT_MAX};
    const int64_t wanted[] = {-1, 0, 1, 60, 100, 0xFFFFFFFFu};  // -1: no length pointer
    for (int offset : offsets) {
        for (unsigned short origin : {0, 1, 2, 3, 0xFFFF}) {
            for (int64_t want : wanted) {
                ASSERT_NE(file.Seek(40, 0, nullptr), nullptr);
                const int64_t p = origin == 1   ? 40 + int64_t{offset}
                                  : origin == 2 ? kFileSize - int64_t{offset}
                                                : offset;
                const int64_t w = want < 0 ? 0 : want;
                unsigned int length = static_cast<unsigned int>(w);
                unsigned char* at = file.Seek(offset, origin, want < 0 ? nullptr : &length);
                SCOPED_TRACE(std::to_string(offset) + "/" + std::to_string(origin) + "/" +
                             std::to_string(want));
                if (p < 0 || (p >= kFileSize && p + w > kFileSize)) {
                    EXPECT_EQ(at, nullptr);
                    EXPECT_EQ(file.GetPosition(), 40);
                    if (want >= 0) {
                        EXPECT_EQ(length, 0u);
                    }
                } else {
                    EXPECT_EQ(at, file.GetBuffer() + p);
                    EXPECT_EQ(file.GetPosition(), p);
                    if (want >= 0) {
                        EXPECT_EQ(length, std::min<int64_t>(w, kFileSize - p));
                    }
                }
            }
        }
    }
}

TEST(HostileInput, MemFileOffsetsAndSizesOutsideTheFile) {
    HandlerScope handler;
    const Bytes original = Pattern(kFileSize);
    MemFile file;

    struct PutCase {
        int offset, length, result, size;
    };
    const PutCase puts[] = {{-1, 1, 0, 100},          {INT_MIN, 1, 0, 100}, {0, -1, 0, 100},
                            {0, INT_MIN, 0, 100},     {INT_MAX, 1, 0, 100}, {INT_MAX, 0, 0, 100},
                            {INT_MAX - 4, 5, 0, 100}, {1, INT_MAX, 0, 100}, {100, 0, 0, 100},
                            {99, 1, 1, 100},          {100, 1, 1, 101},     {1000, 5, 5, 1005},
                            {0, 100, 100, 100}};
    const Exact source(Pattern(100, 5));
    for (const PutCase& c : puts) {
        Fill(file, original);
        EXPECT_EQ(file.Put(source.get(), c.offset, c.length), c.result)
            << c.offset << "+" << c.length;
        ASSERT_EQ(file.GetLogicalSize(), c.size);
        // Growth leaves the bytes between the old end and the offset unset:
        // only the old bytes and the new ones are compared.
        const Bytes contents = ContentsOf(file);
        bool kept = true;
        for (int i = 0; i < kFileSize; ++i) {
            const bool written = c.result > 0 && i >= c.offset && i < c.offset + c.result;
            kept = kept && (written ||
                            contents[static_cast<size_t>(i)] == original[static_cast<size_t>(i)]);
        }
        EXPECT_TRUE(kept);
        if (c.result > 0) {
            EXPECT_TRUE(
                std::equal(source.get(), source.get() + c.result, contents.begin() + c.offset));
        }
    }
    Fill(file, original);
    EXPECT_EQ(file.Put(nullptr, 0, 5), 0);  // no bytes to copy from
    EXPECT_EQ(file.Put(nullptr, 200, 5), 0);
    EXPECT_EQ(ContentsOf(file), original);

    struct GetCase {
        int offset, length, result;
    };
    const GetCase gets[] = {{-1, 1, 0},
                            {INT_MIN, 5, 0},
                            {0, -1, 0},
                            {0, INT_MIN, 0},
                            {0, 0, 0},
                            {0, 100, 100},
                            {0, INT_MAX, 100},
                            {98, 4, 2},
                            {100, 4, 0},
                            {101, 4, 0},
                            {INT_MAX, INT_MAX, 0},
                            {INT_MAX, 1, 0},
                            {50, INT_MAX, 50}};
    for (const GetCase& c : gets) {
        Guarded dst(static_cast<size_t>(c.result));  // only what the file holds there
        EXPECT_EQ(file.Get(dst.data(), c.offset, c.length), c.result)
            << c.offset << "+" << c.length;
        EXPECT_TRUE(dst.Intact());
        if (c.result > 0) {
            EXPECT_TRUE(std::equal(original.begin() + c.offset,
                                   original.begin() + c.offset + c.result, dst.data()));
        }
    }
    EXPECT_EQ(file.Get(nullptr, 0, 10), 0);
    MemFile empty;
    Guarded nothing(0);
    EXPECT_EQ(empty.Get(nothing.data(), 0, 10), 0);
    EXPECT_TRUE(nothing.Intact());

    struct CopyCase {
        int dst, src, length, result, size;
    };
    const CopyCase copies[] = {
        {-1, 0, 1, 0, 100},      {0, -1, 1, 0, 100},       {0, 0, -1, 0, 100},
        {INT_MIN, 0, 1, 0, 100}, {0, 0, INT_MAX, 0, 100},  {INT_MAX, 0, 1, 0, 100},
        {10, 10, 50, 50, 100},   {0, 50, 50, 50, 100},     {50, 0, 50, 50, 100},
        {90, 0, 20, 20, 110},    {0, INT_MAX, 10, 0, 100}, {0, INT_MAX - 5, 10, 0, 100}};
    for (const CopyCase& c : copies) {
        Fill(file, original);
        EXPECT_EQ(file.Copy(c.dst, c.src, c.length), c.result)
            << c.dst << "<-" << c.src << "+" << c.length;
        ASSERT_EQ(file.GetLogicalSize(), c.size);
        Bytes expected = original;
        expected.resize(static_cast<size_t>(c.size));
        if (c.result > 0) {
            std::memmove(expected.data() + c.dst, original.data() + c.src,
                         static_cast<size_t>(c.length));
        }
        EXPECT_EQ(ContentsOf(file), expected);
    }

    struct DeleteCase {
        unsigned offset, length;
    };
    const DeleteCase deletes[] = {{100, 1},          {0xFFFFFFFFu, 1}, {0xFFFFFFFFu, 0xFFFFFFFFu},
                                  {99, 0xFFFFFFFFu}, {0, 0xFFFFFFFFu}, {50, 0},
                                  {10, 20}};
    for (const DeleteCase& c : deletes) {
        Fill(file, original);
        EXPECT_EQ(file.Delete(c.offset, c.length), 0);
        Bytes expected = original;
        if (c.offset < expected.size()) {
            const size_t end = std::min<size_t>(expected.size(), size_t{c.offset} + c.length);
            expected.erase(expected.begin() + c.offset, expected.begin() + static_cast<long>(end));
        }
        EXPECT_EQ(ContentsOf(file), expected) << c.offset << "+" << c.length;
    }

    // Sizes outside any file are refused; a negative logical size is taken as
    // 0; the block keeps its bytes.
    Fill(file, original);
    const int allocated = file.GetAllocatedSize();
    for (int size : {INT_MIN, -1}) {
        EXPECT_EQ(file.SizeSet(size, 0), KV_MEMFILE_NO_MEMORY);
        EXPECT_EQ(file.GetLogicalSize(), kFileSize);
        EXPECT_EQ(file.SetLogicalSize(size), 0);
        EXPECT_EQ(file.GetLogicalSize(), 0);
        ASSERT_EQ(file.SetLogicalSize(kFileSize), 0);
        EXPECT_EQ(file.SizeSetDontShrink(size, 0), 0);
        EXPECT_EQ(file.GetLogicalSize(), 0);
        ASSERT_EQ(file.SetLogicalSize(kFileSize), 0);
    }
    for (int size : {INT_MAX, INT_MAX - 7, 1 << 30}) {
        EXPECT_EQ(file.SizeSet(size, 0), KV_MEMFILE_NO_MEMORY) << size;
        EXPECT_EQ(file.SizeSetDontShrink(size, 0), KV_MEMFILE_NO_MEMORY);
        EXPECT_EQ(file.SetLogicalSize(size), KV_MEMFILE_BEYOND_ALLOCATED);
    }
    EXPECT_EQ(file.SetLogicalSize(allocated + 1), KV_MEMFILE_BEYOND_ALLOCATED);
    EXPECT_EQ(ContentsOf(file), original);
    for (int from : {INT_MIN, -1, kFileSize, INT_MAX})
        file.InitializeWith(0xEE, from);
    EXPECT_EQ(ContentsOf(file), original);
    file.InitializeWith(0xEE, kFileSize - 1);
    EXPECT_EQ(file.GetBuffer()[kFileSize - 1], 0xEE);

    // Cross-file copies: ends past 2^31 and ranges past the source are refused.
    Fill(file, original);
    MemFile other;
    ASSERT_NE(file.Seek(90, 0, nullptr), nullptr);
    EXPECT_EQ(file.Get(&other, 0xFFFFFFFFu, 0), 10u);  // clipped at the logical end
    EXPECT_EQ(file.Get(&other, 5, 0xFFFFFFFFu), 0u);
    EXPECT_EQ(file.Get(&other, 5, static_cast<unsigned>(INT_MAX) - 4), 0u);
    EXPECT_EQ(file.Get(&other, 1, static_cast<unsigned>(INT_MAX) - 1), 0u);
    EXPECT_EQ(other.GetLogicalSize(), 10);
    ASSERT_NE(file.Seek(0, 2, nullptr), nullptr);  // at the logical end
    EXPECT_EQ(file.Get(&other, 5, 0), 0u);
    ASSERT_NE(file.Seek(7, 0, nullptr), nullptr);
    EXPECT_EQ(other.Put(&file, 0, 0xFFFFFFFFu), 0u);
    EXPECT_EQ(other.Put(&file, 0xFFFFFFFFu, 0xFFFFFFFFu), 0u);
    EXPECT_EQ(other.Put(&file, 0, kFileSize), 0u);
    EXPECT_EQ(other.Put(&file, 0xFFFFFFFFu, 0), 100u);  // clipped at the source's end
    EXPECT_EQ(other.Put(&file, 0, kFileSize - 1), 1u);
    EXPECT_EQ(file.GetPosition(), 7);  // the source's position came back
    EXPECT_EQ(other.GetLogicalSize(), 100);

    // Constructions with sizes outside any file give an empty file.
    for (int size : {INT_MIN, -1, INT_MAX}) {
        MemFile odd(size, size);
        EXPECT_EQ(odd.GetLogicalSize(), 0);
        EXPECT_EQ(odd.GetBuffer(), nullptr);
    }
    // Write stores at the position: four bytes past the block are refused.
    Fill(file, Pattern(112));
    ASSERT_EQ(file.GetAllocatedSize(), 112);
    ASSERT_NE(file.Seek(110, 0, nullptr), nullptr);
    ASSERT_EQ(file.SetLogicalSize(8), 0);
    int status = 1;
    EXPECT_EQ(file.Write(0xDEADBEEFu, status), 4u);
    EXPECT_EQ(status, KV_MEMFILE_BEYOND_ALLOCATED);
    EXPECT_EQ(file.GetPosition(), 110);
    EXPECT_EQ(g_handlerCalls, 0);  // none of this was a heap refusal
}

TEST(HostileInput, MemQueueAndRawBufferRefuseWhatTheyCannotHold) {
    HandlerScope handler;
    unsigned char abc[3] = {'a', 'b', 'c'};
    MemQueue queue;
    EXPECT_EQ(queue.Put(nullptr, 0), 0);
    EXPECT_EQ(queue.Put(nullptr, 5), KV_MEMQUEUE_PUT_FAILED);
    EXPECT_EQ(queue.Put(abc, 0xFFFFFFFFu), KV_MEMQUEUE_GROW_FAILED);
    EXPECT_EQ(queue.Put(abc, 0x7FFFFFF0u), KV_MEMQUEUE_GROW_FAILED);
    EXPECT_EQ(queue.GetLogicalSize(), 0);
    ASSERT_EQ(queue.Put(abc, 3), 0);
    EXPECT_EQ(queue.Put(nullptr, 1), KV_MEMQUEUE_PUT_FAILED);
    EXPECT_EQ(queue.GetLogicalSize(), 3);  // a failed Put leaves the queue as it was

    Guarded out(3);
    EXPECT_EQ(queue.Get(out.data(), 0xFFFFFFFFu), KV_MEMQUEUE_TOO_FEW_BYTES);
    EXPECT_EQ(queue.Get(out.data(), 4), KV_MEMQUEUE_TOO_FEW_BYTES);
    EXPECT_EQ(queue.Get(nullptr, 2), KV_MEMQUEUE_GET_FAILED);
    EXPECT_EQ(queue.Get(nullptr, 0), 0);
    EXPECT_EQ(queue.GetHead(), 0u);
    EXPECT_EQ(queue.Get(out.data(), 3), 0);
    EXPECT_EQ(out.Contents(), (Bytes{'a', 'b', 'c'}));
    EXPECT_TRUE(out.Intact());
    EXPECT_EQ(queue.Get(out.data(), 1), KV_MEMQUEUE_EMPTY);
    EXPECT_EQ(queue.Delete(0xFFFFFFFFu), 0);  // beyond the head: nothing to drop
    EXPECT_EQ(queue.GetHead(), 3u);
    EXPECT_EQ(queue.GetLogicalSize(), 3);
    // The file below shrunk behind the queue's back: the head lies past the
    // end, and nothing is read from there.
    ASSERT_EQ(queue.SizeSet(1, 0), 0);
    EXPECT_EQ(queue.Get(out.data(), 1), KV_MEMQUEUE_GET_FAILED);
    EXPECT_EQ(queue.Delete(0), 0);
    EXPECT_EQ(queue.GetLogicalSize(), 0);
    MemQueue compacting(1);
    ASSERT_EQ(compacting.Put(abc, 3), 0);
    EXPECT_EQ(compacting.Get(nullptr, 1), KV_MEMQUEUE_GET_FAILED);
    EXPECT_EQ(compacting.GetLogicalSize(), 3);  // nothing taken

    // Behaviours other than copy (0) and adopt (2) borrow: the buffer never
    // frees the caller's memory (the sanitizers would see a free of a stack
    // array).
    const KvRawBufferBehavior behaviours[] = {KvRawBufferCopy,
                                              KvRawBufferBorrow,
                                              KvRawBufferAdopt,
                                              static_cast<KvRawBufferBehavior>(-1),
                                              static_cast<KvRawBufferBehavior>(3),
                                              static_cast<KvRawBufferBehavior>(INT32_MIN),
                                              static_cast<KvRawBufferBehavior>(INT32_MAX)};
    for (KvRawBufferBehavior behaviour : behaviours) {
        SCOPED_TRACE(static_cast<int>(behaviour));
        const bool adopt = behaviour == KvRawBufferAdopt;
        for (unsigned len : {0u, 10u}) {
            KvRawBuffer none(nullptr, len, behaviour);
            EXPECT_EQ(none.GetBuf(), nullptr);
            EXPECT_EQ(none.GetBufLen(), 0u);
        }
        // A length of 0 holds nothing; an adopted block is still given back.
        void* block = adopt ? std::malloc(4) : static_cast<void*>(abc);
        KvRawBuffer empty(block, 0, behaviour);
        EXPECT_EQ(empty.GetBuf(), nullptr);
        EXPECT_EQ(empty.GetBufLen(), 0u);
        EXPECT_EQ(empty.EnsureCapacity(0), 0);

        void* data = adopt ? std::malloc(3) : static_cast<void*>(abc);
        if (adopt) std::memcpy(data, abc, 3);
        KvRawBuffer held(data, 3, behaviour);
        EXPECT_EQ(held.GetBufLen(), 3u);
        EXPECT_EQ(std::memcmp(held.GetBuf(), abc, 3), 0);
        EXPECT_EQ(held.GetBuf() == data, behaviour != KvRawBufferCopy);
        KvRawBuffer copy(held);
        copy = held;
        EXPECT_EQ(copy.GetBuf() == held.GetBuf(), behaviour != KvRawBufferCopy && !adopt);
        EXPECT_EQ(held.EnsureCapacity(3), 0);
        EXPECT_EQ(held.GetBufLen(), 3u);
    }
    EXPECT_EQ(g_handlerCalls, 0);
}

// ---------------------------------------------------------------------------
// Arrays, bit string and other small structures
// ---------------------------------------------------------------------------

int CompareInts(KvVArray const*, void* a, void* b) {
    int x, y;
    std::memcpy(&x, a, sizeof x);
    std::memcpy(&y, b, sizeof y);
    return (x > y) - (x < y);
}

std::vector<int> ContentsOf(const KvVArray& list) {
    std::vector<int> values(list.GetCount());
    for (uint32_t i = 0; i < list.GetCount(); ++i)
        EXPECT_EQ(list.Get(i, &values[i]), 0);
    return values;
}

// Every operation with an index at or past the end answers -502 and changes
// nothing; null pointers where an element is optional are accepted.
void SweepIndexes(KvVArray& list) {
    list.SetCompareFunction(CompareInts);
    for (int v = 0; v < 10; ++v)
        ASSERT_EQ(list.Insert(list.GetCount(), &v), 0);
    const std::vector<int> before = ContentsOf(list);
    const uint32_t n = list.GetCount();
    for (uint32_t index : {n, n + 1, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFEu, 0xFFFFFFFFu}) {
        SCOPED_TRACE(index);
        Guarded out(sizeof(int));
        int value = 99;
        EXPECT_EQ(list.Get(index, out.data()), KV_ARRAY_INDEX);
        EXPECT_EQ(list.Element(index), nullptr);
        EXPECT_EQ(list.Update(index, &value), KV_ARRAY_INDEX);
        EXPECT_EQ(list.Delete(index, 1), KV_ARRAY_INDEX);
        EXPECT_EQ(list.SearchAt(index, &value, out.data()), KV_ARRAY_INDEX);
        if (index != n) {
            EXPECT_EQ(list.Insert(index, &value), KV_ARRAY_INDEX);
            EXPECT_EQ(list.PrepareInsert(index), nullptr);
        }
        EXPECT_EQ(out.Contents(), Bytes(sizeof(int), 0));
        EXPECT_TRUE(out.Intact());
        EXPECT_EQ(ContentsOf(list), before);
    }
    EXPECT_EQ(list.Get(0, nullptr), 0);
    EXPECT_EQ(list.Update(0, nullptr), 0);
    const int key = 4;
    EXPECT_EQ(list.Search(&key, nullptr, nullptr), 0);
    EXPECT_EQ(list.SortedInsert(&key, nullptr, 0, 1), KV_ARRAY_DUPLICATE);
    EXPECT_EQ(list.SizeSet(n - 1), KV_ARRAY_INDEX);
    EXPECT_EQ(list.Copy(nullptr), KV_ARRAY_WRONG_KIND);
    EXPECT_EQ(ContentsOf(list), before);
    list.SetCompareFunction(nullptr);
    EXPECT_EQ(list.SearchAt(0xFFFFFFFFu, const_cast<int*>(&key), nullptr), KV_ARRAY_NO_COMPARE);
    EXPECT_EQ(list.Sort(0), KV_ARRAY_NO_COMPARE);
}

TEST(HostileInput, ArraysRefuseIndexesPastTheEndAndCountsBeyondTheirBound) {
    HandlerScope handler;
    KvCList contiguous(sizeof(int));
    SweepIndexes(contiguous);
    KvLList memoryFile(sizeof(int));
    SweepIndexes(memoryFile);
    SortList sorted(sizeof(int), CompareInts);
    SweepIndexes(sorted);

    // Capacities beyond what a list can hold.
    EXPECT_EQ(contiguous.SizeSet(0xFFFFFFFFu), KV_ARRAY_NO_MEMORY);
    EXPECT_EQ(memoryFile.SizeSet(0xFFFFFFFFu), KV_MEMFILE_NO_MEMORY);
    EXPECT_EQ(contiguous.GetCount(), 10u);
    EXPECT_EQ(memoryFile.GetCount(), 10u);
    for (int capacity : {INT_MIN, -1, INT_MAX}) {
        int result = 1;
        KvCList clamped(sizeof(int), capacity, &result);  // negative counts are large
        EXPECT_EQ(result, 0);
        EXPECT_EQ(clamped.GetCurMaxCount(), uint32_t{KvCList::kMaxCount});
    }
    int result = 1;
    KvLList huge(sizeof(int), 0xFFFFFFFFu, &result);
    EXPECT_EQ(result, KV_ARRAY_NO_MEMORY);
    EXPECT_EQ(huge.GetCurMaxCount(), 0u);
    EXPECT_EQ(memoryFile.Init(sizeof(int), 0xFFFFFFFFu), KV_ARRAY_NO_MEMORY);
    EXPECT_EQ(memoryFile.GetCount(), 0u);
    EXPECT_EQ(memoryFile.GetCurMaxCount(), 0u);

    // Pointer slots and imports from a memory file.
    KvLList pointers(sizeof(void*));
    void* slot = &result;
    ASSERT_EQ(pointers.Insert(0, &slot), 0);
    EXPECT_NE(pointers.PtrElement(0), nullptr);
    EXPECT_EQ(pointers.PtrElement(1), nullptr);
    EXPECT_EQ(pointers.PtrElement(0xFFFFFFFFu), nullptr);
    MemFile source;
    ASSERT_EQ(source.Put(Pattern(16).data(), 0, 16), 16);
    ASSERT_NE(source.Seek(8, 0, nullptr), nullptr);
    EXPECT_EQ(pointers.Import(0, nullptr), 0);
    EXPECT_EQ(pointers.Import(1, nullptr), KV_ARRAY_NO_MEMORY);
    EXPECT_EQ(pointers.Import(0xFFFFFFFFu, &source), KV_ARRAY_NO_MEMORY);
    ASSERT_NE(source.Seek(0, 2, nullptr), nullptr);  // nothing left at the position
    EXPECT_EQ(pointers.Import(1, &source), KV_ARRAY_NO_MEMORY);
    EXPECT_EQ(pointers.GetCount(), 1u);
    EXPECT_EQ(g_handlerCalls, 0);
}

TEST(HostileInput, BitStringAndListsRefusePositionsOutside) {
    for (unsigned length : {0u, 1u, 7u, 8u, 9u, 64u}) {
        SCOPED_TRACE(length);
        _KvBitString bits(length);
        if (length > 0) {
            bits.Set(0);
            bits.Set(length - 1);
        }
        const Bytes before(bits.Bits(), bits.Bits() + length / 8 + 1);
        const unsigned count = bits.GetNum();
        for (unsigned i : {length, length + 1, 0x80000000u, 0xFFFFFFFEu, 0xFFFFFFFFu}) {
            int value = 77;
            unsigned position = 77;
            EXPECT_EQ(bits.Set(i), -2005);
            EXPECT_EQ(bits.Reset(i), -2005);
            EXPECT_EQ(bits.Get(i, value), -2005);
            EXPECT_EQ(bits.Flip(i, value), -2005);
            EXPECT_EQ(value, 77);
            EXPECT_EQ(bits.Find(i, 1, position), -2005);
            EXPECT_EQ(position, length);
        }
        struct Area {
            unsigned start, count;
            int result;
        };
        const Area areas[] = {{length, 0, 0},          {0, 0, 0},
                              {length + 1, 0, -2005},  {0, length + 1, -2005},
                              {length, 1, -2005},      {1, 0xFFFFFFFFu, -2005},
                              {0xFFFFFFFFu, 2, -2005}, {0xFFFFFFFFu, 0, -2005}};
        for (const Area& a : areas) {
            unsigned offset = 1234;
            EXPECT_EQ(bits.TestAndSetArea(a.start, a.count, offset), a.result)
                << a.start << "+" << a.count;
            EXPECT_EQ(bits.TestAndResetArea(a.start, a.count, offset), a.result);
            EXPECT_EQ(offset, 1234u);
        }
        EXPECT_EQ(Bytes(bits.Bits(), bits.Bits() + length / 8 + 1), before);
        EXPECT_EQ(bits.GetNum(), count);
    }

    // Entry caches of sizes no block can hold hand out nothing.
    KvEntryCache unusable(0xFFFFFFFFu, 0, 8);
    EXPECT_EQ(unusable.GetEntry(), nullptr);
    EXPECT_EQ(unusable.UngetEntry(), nullptr);

    // A memory-file container walks only the whole records inside the file.
    MemFile file;
    ASSERT_EQ(file.Put(Pattern(10).data(), 0, 10), 10);
    struct Walk {
        MemFile* file;
        unsigned recordSize, recordCount, records;
    };
    const Walk walks[] = {{nullptr, 4, 10, 0}, {&file, 4, 0xFFFFFFFFu, 2},
                          {&file, 4, 0, 0},    {&file, 0xFFFFFFFFu, 1, 0},
                          {&file, 11, 1, 0},   {&file, 10, 5, 1}};
    for (const Walk& w : walks) {
        ASSERT_NE(file.Seek(0, 0, nullptr), nullptr);  // records start at the file's position
        KvMemFileContainer container(w.file, w.recordSize, w.recordCount);
        KvMemFileIterator iterator(&container);
        unsigned records = 0;
        for (int status = iterator.First(); status == 0; status = iterator.Next())
            ++records;
        EXPECT_EQ(records, w.records) << w.recordSize << " x " << w.recordCount;
    }
}

// ---------------------------------------------------------------------------
// Error texts
// ---------------------------------------------------------------------------

// What a caller's buffer must hold for KvError with this prefix.
size_t ContractSize(const char* prefix) {
    if (prefix == nullptr) return KV_ERROR_MAX_TEXT + 1;
    return std::strlen(prefix) + 3 + 11 + 4 + KV_ERROR_MAX_TEXT + 1;
}

std::string TextOf(int code) {
    if (code == 0) return "ok";
    if (const char* text = KvErrorCatalogueText(code)) return text;
    return code >= 1 && code <= 999 ? "count" : "unknown error";
}

std::string LoginTextOf(int code) {
    switch (code) {
        case 0:
            return "Login to Database";
        case 1:
            return "Login to Dictionary";
        case -2017:
            return "Login data inconsistent, please contact Admin";
        case -2301:
            return "Password is invalid";
        case -2302:
            return "Login name is not unique, please contact Admin";
        case -2307:
            return "Login name is invalid";
        default:
            return "Login failed, Error was: " + std::to_string(code);
    }
}

const int kCodes[] = {INT_MIN, INT_MIN + 1, -3100, -3099, -3050, -3001,  -3000,
                      -2307,   -2017,       -2008, -1,    0,     1,      999,
                      1000,    3000,        3001,  3003,  3004,  INT_MAX};

TEST(HostileInput, ErrorTextsForAnyCodeAndPrefix) {
    const std::string longPrefix(4096, 'p');
    const char* prefixes[] = {nullptr,           "", "Open", "%s%n%d", "\x01\x7f\xff\xfe",
                              longPrefix.c_str()};
    for (int code : kCodes) {
        for (const char* prefix : prefixes) {
            SCOPED_TRACE(std::to_string(code) + " " + (prefix ? std::string(prefix, 0, 8) : "-"));
            const std::string text = TextOf(code);
            std::string expected =
                code == 0 ? (prefix ? std::string(prefix) + " : ok" : "0")
                : prefix  ? std::string(prefix) + " : " + std::to_string(code) + " -> " + text
                          : text;
            Guarded buffer(ContractSize(prefix), 'z');
            for (int textOnly : {1, -1, INT_MIN})
                EXPECT_EQ(KvError(buffer.chars(), prefix, code, textOnly), text);
            EXPECT_EQ(buffer.Contents(), Bytes(ContractSize(prefix), 'z'));  // not used
            EXPECT_EQ(KvError(buffer.chars(), prefix, code, 0), buffer.chars());
            EXPECT_EQ(std::string(buffer.chars()), expected);
            EXPECT_TRUE(buffer.Intact());
            EXPECT_EQ(std::string(KvError(nullptr, prefix, code, 0)), expected.substr(0, 255));

            const std::string login = LoginTextOf(code);
            expected = prefix ? std::string(prefix) + " : " + std::to_string(code) + " -> " + login
                              : login;
            Guarded loginBuffer(ContractSize(prefix));
            EXPECT_EQ(KvLoginError(loginBuffer.chars(), prefix, code, 0), loginBuffer.chars());
            EXPECT_EQ(std::string(loginBuffer.chars()), expected);
            EXPECT_TRUE(loginBuffer.Intact());
            EXPECT_EQ(std::string(KvLoginError(nullptr, prefix, code, 0)), expected.substr(0, 255));
            EXPECT_EQ(std::string(KvLoginError(loginBuffer.chars(), prefix, code, 1)), login);
            EXPECT_EQ(std::string(KvLoginError(nullptr, prefix, code, 1)), login);
            EXPECT_TRUE(loginBuffer.Intact());
        }
    }
    size_t count = 0;
    EXPECT_NE(KvErrorCatalogue(nullptr), nullptr);
    EXPECT_NE(KvErrorCatalogue(&count), nullptr);
    EXPECT_GT(count, 0u);
}

std::string g_longText;
char* LongText(int) {
    return g_longText.data();
}
char* NoText(int) {
    return nullptr;
}

TEST(HostileInput, ModuleErrorCallbackRangesAtTheEndsOfInt) {
    auto& slot = KvModuleErrorCallbackList::GetInstance();
    g_longText = std::string(4000, 'x') + "\xff\x01";
    EXPECT_EQ(slot.SetModuleErrorCallback(LongText, INT_MIN, INT_MAX), -2002);  // upper < lower
    ASSERT_EQ(slot.SetModuleErrorCallback(LongText, INT_MAX, INT_MIN), 0);
    EXPECT_EQ(slot.SetModuleErrorCallback(NoText, 5, 1), -2002);  // the one slot is taken
    for (int code : kCodes) {
        SCOPED_TRACE(code);
        const bool covered =
            code != INT_MIN && code != INT_MAX && code != 0 && !KvIsQueryLanguageCode(code);
        EXPECT_EQ(slot.GetError(code) == g_longText.data(), code != INT_MIN && code != INT_MAX);
        if (!covered) {
            EXPECT_EQ(KvError(nullptr, nullptr, code, 1), TextOf(code));
            continue;
        }
        EXPECT_EQ(KvError(nullptr, nullptr, code, 1), g_longText.data());
        // A long text is cut to what the contract's buffer holds.
        for (const char* prefix : {static_cast<const char*>(nullptr), "P"}) {
            Guarded buffer(ContractSize(prefix));
            KvError(buffer.chars(), prefix, code, 0);
            EXPECT_TRUE(buffer.Intact());
            const std::string head =
                prefix ? std::string(prefix) + " : " + std::to_string(code) + " -> " : "";
            EXPECT_EQ(std::string(buffer.chars()),
                      (head + g_longText).substr(0, ContractSize(prefix) - 1));
            EXPECT_EQ(std::string(KvError(nullptr, prefix, code, 0)),
                      (head + g_longText).substr(0, 255));
        }
    }
    EXPECT_EQ(slot.SetModuleErrorCallback(nullptr, INT_MAX, INT_MIN + 1), -2002);
    EXPECT_EQ(slot.SetModuleErrorCallback(nullptr, INT_MAX, INT_MIN), 0);
    EXPECT_EQ(slot.SetModuleErrorCallback(nullptr, INT_MAX, INT_MIN), -2002);
    // An empty range matches no code; a callback without a text falls through.
    ASSERT_EQ(slot.SetModuleErrorCallback(NoText, 7, 7), 0);
    EXPECT_EQ(slot.GetError(7), nullptr);
    EXPECT_EQ(slot.SetModuleErrorCallback(nullptr, 7, 7), 0);
    ASSERT_EQ(slot.SetModuleErrorCallback(NoText, INT_MAX, INT_MIN), 0);
    EXPECT_STREQ(KvError(nullptr, nullptr, -1, 1), "unknown error");
    EXPECT_EQ(slot.SetModuleErrorCallback(nullptr, INT_MAX, INT_MIN), 0);
}

// ---------------------------------------------------------------------------
// Registry
// ---------------------------------------------------------------------------

class HostileRegistry : public ::testing::Test {
protected:
    // Nothing may appear beside the root.
    void TearDown() override {
        for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
            EXPECT_EQ(entry.path().filename(), "registry");
    }

    static int Set(std::vector<const char*> path, const std::string& value) {
        path.push_back(nullptr);
        int size = 1;
        return KvSetRegistryEntry(path.data(), const_cast<char*>(value.c_str()), size);
    }
    static int Delete(std::vector<const char*> path) {
        path.push_back(nullptr);
        return KvDeleteRegistryEntry(path.data());
    }
    // The result, the size and the bytes of a read into room bytes.
    static std::string Get(std::vector<const char*> path, int room) {
        path.push_back(nullptr);
        Guarded buffer(static_cast<size_t>(std::max(room, 0)), '#');
        int size = room;
        const int rc = KvGetRegistryEntry(path.data(), buffer.chars(), size);
        EXPECT_TRUE(buffer.Intact());
        std::string bytes;
        if (rc == 0 || (rc == -1 && size > 0)) {
            EXPECT_NE(std::memchr(buffer.chars(), 0, static_cast<size_t>(room)), nullptr);
            bytes = buffer.chars();
        } else {
            EXPECT_EQ(buffer.Contents(), Bytes(static_cast<size_t>(std::max(room, 0)), '#'));
        }
        return std::to_string(rc) + ":" + std::to_string(size) + ":" + bytes;
    }

    tq::test::TempDir dir_;
    tq::test::ScopedEnv env_{"TQ_REGISTRY_ROOT", dir_.File("registry").c_str()};
};

TEST_F(HostileRegistry, NamesThatCouldLeaveTheRootOrOverflowTheKeyPath) {
    struct Name {
        std::string name;
        int asKey, asValue;
    };
    const Name names[] = {
        {"", 0, -1},  // an empty key name is an empty segment: the key above
        {".", -1, -1},
        {"..", -1, -1},
        {"a/b", -1, -1},
        {"/", -1, -1},
        {"\x01", -1, -1},
        {"a\nb", -1, -1},
        {"\x7f", -1, -1},
        {"a\\..\\..", -1, 0},  // as a key: segments "a", "..", ".."
        {"\xff\xfe", 0, 0},
        {"%s%n", 0, 0},
        {" ", 0, 0},
        {std::string(218, 'k'), 0, 0},  // 40 + 1 + 218 = 259 characters of key path
        {std::string(219, 'k'), KV_ERR_INVALID_PARAMETER, 0},
        {std::string(255, 'n'), KV_ERR_INVALID_PARAMETER, 0},
        {std::string(256, 'n'), KV_ERR_INVALID_PARAMETER, -1},  // longer than a file name
        {std::string(4096, 'n'), KV_ERR_INVALID_PARAMETER, -1},
    };
    for (const Name& n : names) {
        SCOPED_TRACE(n.name.substr(0, 16));
        const char* name = n.name.c_str();
        for (const auto& [path, expected] :
             {std::make_pair(std::vector<const char*>{name, "v"}, n.asKey),
              std::make_pair(std::vector<const char*>{"k", name}, n.asValue)}) {
            EXPECT_EQ(Set(path, "value"), expected);
            if (expected == 0) {
                EXPECT_EQ(Get(path, 64), "0:5:value");
                EXPECT_EQ(Delete(path), 0);
            } else {
                // Refused before the store: the size is left alone.
                EXPECT_EQ(Get(path, 64),
                          std::to_string(expected) + ":" + (expected == -1 ? "0" : "64") + ":");
                EXPECT_EQ(Delete(path), expected);
            }
        }
    }
}

TEST_F(HostileRegistry, BuffersAndSizes) {
    ASSERT_EQ(Set({"k", "v"}, "hello"), 0);
    for (int room : {INT_MIN, -1, 0})
        EXPECT_EQ(Get({"k", "v"}, room), "-2530:" + std::to_string(room) + ":");
    EXPECT_EQ(Get({"k", "v"}, 1), "-1:5:");  // too small: the value's size
    EXPECT_EQ(Get({"k", "v"}, 5), "-1:5:hell");
    EXPECT_EQ(Get({"k", "v"}, 6), "0:5:hello");

    const char* path[] = {"k", "v", nullptr};
    const char* empty[] = {nullptr};
    char buffer[8] = "#######";
    char value[] = "x";
    int size = 8;
    EXPECT_EQ(KvGetRegistryEntry(path, nullptr, size), KV_ERR_INVALID_PARAMETER);
    EXPECT_EQ(KvGetRegistryEntry(nullptr, buffer, size), KV_ERR_INVALID_PARAMETER);
    EXPECT_EQ(KvGetRegistryEntry(empty, buffer, size), KV_ERR_INVALID_PARAMETER);
    EXPECT_EQ(Register().Get(path, nullptr, size), KV_ERR_INVALID_PARAMETER);
    EXPECT_EQ(size, 8);
    EXPECT_STREQ(buffer, "#######");
    EXPECT_EQ(KvSetRegistryEntry(path, nullptr, size), KV_ERR_INVALID_PARAMETER);
    EXPECT_EQ(KvSetRegistryEntry(nullptr, value, size), KV_ERR_INVALID_PARAMETER);
    EXPECT_EQ(KvSetRegistryEntry(empty, value, size), KV_ERR_INVALID_PARAMETER);
    size = 0;
    EXPECT_EQ(KvSetRegistryEntry(path, value, size), KV_ERR_INVALID_PARAMETER);
    for (int any : {INT_MIN, -1}) {  // the size is not used otherwise
        size = any;
        EXPECT_EQ(KvSetRegistryEntry(path, value, size), 0);
    }
    EXPECT_EQ(KvDeleteRegistryEntry(nullptr), KV_ERR_INVALID_PARAMETER);
    EXPECT_EQ(KvDeleteRegistryEntry(empty), KV_ERR_INVALID_PARAMETER);

    // Any bytes are a value: control characters, bytes that are not UTF-8.
    std::string odd(4096, '\x01');
    odd[7] = '\xff';
    odd[100] = '\n';
    ASSERT_EQ(Set({"k", "odd"}, odd), 0);
    EXPECT_EQ(Get({"k", "odd"}, 4097), "0:4096:" + odd);
    ASSERT_EQ(Set({"k", "empty"}, ""), 0);
    EXPECT_EQ(Get({"k", "empty"}, 1), "0:0:");

    // Event sources whose names would leave the store, or have none.
    KvSysLogWin32 log;
    const std::string longSource(4096, 'e');
    for (const char* source : {static_cast<const char*>(nullptr), ".", "..", "../x", "a/b",
                               "a\\..\\..\\x", "\x01", longSource.c_str()})
        EXPECT_EQ(log.Install(source), -1) << (source ? std::string(source, 0, 8) : "null");

    // The host name, cut to the room given.
    Guarded host(8, '#');
    for (int room : {INT_MIN, -1, 0})
        EXPECT_EQ(KvGetHostname(host.chars(), room), 0);
    EXPECT_EQ(KvGetHostname(nullptr, 8), 0);
    EXPECT_EQ(host.Contents(), Bytes(8, '#'));
    EXPECT_EQ(KvGetHostname(host.chars(), 1), 0);
    EXPECT_EQ(host.data()[0], 0);
    EXPECT_EQ(KvGetHostname(host.chars(), 3), 0);
    EXPECT_NE(std::memchr(host.data(), 0, 3), nullptr);
    EXPECT_TRUE(host.Intact());
}

// ---------------------------------------------------------------------------
// Module loader and names
// ---------------------------------------------------------------------------

TEST(HostileInput, LoaderWithHostileModuleAndSymbolNames) {
    // Reports on: the failure text is formatted with every hostile name.
    KvConfig* previous = DefaultConfig(KV_QUERY_CONFIG);
    KvKeyFileConfig config;
    ASSERT_EQ(config.LoadText("[debug]\nloadModule = 1\n"), 0);
    DefaultConfig(&config);

    const std::vector<std::string> names = {"",
                                            ".",
                                            "..",
                                            "/",
                                            "//",
                                            "../../../../../../../etc/passwd",
                                            "\x01\x02",
                                            "\xff\xfe",
                                            "%s%n%s%n",
                                            std::string(259, 'm'),
                                            std::string(260, 'm'),
                                            std::string(4096, 'm')};
    for (const std::string& name : names) {
        SCOPED_TRACE(name.substr(0, 16));
        KvModuleHandle* handle = reinterpret_cast<KvModuleHandle*>(1);
        EXPECT_EQ(KvDynamicLoader::LoadModule(name.c_str(), 0, handle),
                  ERR_KV_COULD_NOT_LOAD_MODULE);
        EXPECT_EQ(handle, nullptr);
        EXPECT_LT(std::strlen(KvDynamicLoader::GetErrText()), 512u);

        Guarded physical(1024, '#'), text(64, '#');
        unsigned numbers[5] = {7, 7, 7, 7, 7};
        int compiler = 7;
        EXPECT_EQ(
            KvGetDescription(name.c_str(), physical.chars(), numbers[0], numbers[1], numbers[2],
                             numbers[3], numbers[4], text.chars(), text.chars(), text.chars(),
                             text.chars(), text.chars(), text.chars(), compiler),
            ERR_KV_COULD_NOT_LOAD_MODULE);
        EXPECT_EQ(physical.Contents(), Bytes(1024, '#'));
        EXPECT_EQ(text.Contents(), Bytes(64, '#'));
        EXPECT_EQ(compiler, 7);
    }
    KvModuleHandle* handle = reinterpret_cast<KvModuleHandle*>(1);
    EXPECT_EQ(KvDynamicLoader::LoadModule(nullptr, 0, handle), ERR_KV_COULD_NOT_LOAD_MODULE);
    EXPECT_EQ(handle, nullptr);
    DefaultConfig(previous);

    ASSERT_EQ(KvDynamicLoader::LoadModule("tq_test_plain", 0, handle), 0);
    const std::string longSymbol(4096, 's');
    for (const char* symbol : {static_cast<const char*>(nullptr), "", " ", "\xff", "%s%n",
                               "TqTestModuleValue\x01", longSymbol.c_str()}) {
        void* entry = &handle;
        EXPECT_EQ(KvDynamicLoader::GetEntryPoint(symbol, handle, entry),
                  ERR_KV_COULD_NOT_GET_ENTRY);
        EXPECT_EQ(entry, nullptr);
        entry = &handle;
        EXPECT_EQ(KvDynamicLoader::GetEntryPoint(symbol, nullptr, entry),
                  ERR_KV_MODULE_HANDLE_INVALID);
        EXPECT_EQ(entry, nullptr);
    }
    void* entry = nullptr;
    EXPECT_EQ(KvDynamicLoader::GetEntryPoint("TqTestModuleValue", handle, entry), 0);
    EXPECT_EQ(KvDynamicLoader::UnloadModule(handle), 0);
    EXPECT_EQ(KvDynamicLoader::UnloadModule(handle), ERR_KV_MODULE_HANDLE_INVALID);
    EXPECT_STREQ(KvDynamicLoader::GetPhysicalModuleName(nullptr), "<unknown>");
}

TEST(HostileInput, ModuleNamesAndVersionChecks) {
    // The composed name is cut to the name buffer.
    const std::string longTag(4096, 't');
    DllNameClass tagged(longTag.c_str(), INT_MIN);
    EXPECT_EQ(std::strlen(tagged.GetDllName()), size_t{DllNameClass::kBufferSize - 1});
    EXPECT_EQ(std::string(tagged.GetDllName(), 8), "TQ110ttt");
    DllNameClass numbered(nullptr, -1);
    EXPECT_EQ(std::string(numbered.GetDllName()),
              std::string("TQ110-1") + KV_COMPILER_VARIANT + DllNameClass::second_char);
    DllNameClass nothing(nullptr, 0);
    EXPECT_STREQ(nothing.GetDllName(), "");
    nothing = tagged;  // copies the cut name and freezes it
    EXPECT_EQ(std::string(nothing.GetDllName()), std::string(tagged.GetDllName()));

    // The generic name needs strlen(name) + 8 + strlen(second_char) characters, no more.
    for (const std::string& name : {std::string(), std::string("Tbs"), std::string(300, 'g')}) {
        Guarded out(name.size() + 8 + std::strlen(DllNameClass::second_char), '#');
        EXPECT_EQ(DllNameClass::GetGenericDllName(name.c_str(), out.chars()), out.chars());
        EXPECT_EQ(std::string(out.chars()),
                  "TQ" + name + KV_COMPILER_VARIANT + DllNameClass::second_char);
        EXPECT_TRUE(out.Intact());
    }

    const unsigned own[5] = {KV_VERSION_1, KV_VERSION_2, KV_VERSION_3, KV_VERSION_4, KV_VERSION_5};
    EXPECT_EQ(CheckKvVersionNumber(own[0], own[1], 0, 0, 0, 0), KV_ERR_INCOMPATIBLE_VERSION);
    EXPECT_EQ(CheckKvVersionNumber(UINT_MAX, own[1], own[2], own[3], own[4], -1),
              KV_ERR_INCOMPATIBLE_VERSION);
    EXPECT_EQ(CheckKvVersionNumber(own[0], own[1], UINT_MAX, UINT_MAX, UINT_MAX, INT_MIN), 0);
    EXPECT_EQ(CheckKvVersionNumber(own[0], own[1], UINT_MAX, UINT_MAX, UINT_MAX, -1), 0);  // waived
    EXPECT_EQ(CheckKvVersionNumber(own[0], own[1], UINT_MAX, own[3], own[4], 0x0E),
              KV_ERR_INCOMPATIBLE_VERSION);
    for (int flags : {INT_MIN, -1, 0, INT_MAX})
        EXPECT_EQ(KvCheckDll(flags), 0);
    GETKVBASICSINFO(nullptr, nullptr, nullptr, nullptr, nullptr);
}

// ---------------------------------------------------------------------------
// Date and time on extreme clock readings
// ---------------------------------------------------------------------------

int64_t g_seconds = 0;

bool FixedRealTime(tq::platform::RealTime* now) {
    now->seconds = g_seconds;
    now->nanoseconds = 123'456'789;
    return true;
}

TEST(HostileInput, DatesAndTimesOfReadingsNoRecordCanHold) {
    tq::platform::ClockSource source = tq::platform::SystemClockSource();
    source.realTime = FixedRealTime;
    const tq::platform::ClockSource* previous = tq::platform::SetClockSource(&source);
    tq::test::ScopedEnv zone("TZ", "UTC");
    struct Reading {
        int64_t seconds;
        bool fits;  // a date with a year of 0 to 65535
    };
    const Reading readings[] = {
        {INT64_MIN, false},
        {-62167219201, false},       // 31 December of the year -1
        {-62167219200, true},        // 1 January of the year 0
        {0, true},                   // 1970
        {2005949145599, true},       // 31 December 65535
        {2005949145600, false},      // 1 January 65536
        {67768036191676799, false},  // the last second a 32-bit year holds
        {67768036191676800, false},
        {INT64_MAX, false},
    };
    for (const Reading& r : readings) {
        SCOPED_TRACE(r.seconds);
        g_seconds = r.seconds;
        tq::ResetTimeZoneCache();
        const bdate presetDate{1234, 5, 6};
        const btime presetTime{7, 8, 9, 10};
        bdate date = presetDate, hiresDate = presetDate, utcDate = presetDate;
        btime time = presetTime, hiresTime = presetTime, utcTime = presetTime;
        int nanoseconds = -1, utcNanoseconds = -1;
        bksgetdate(&date);
        bksgettime(&time);
        bksgetsystemtime(&utcTime, &utcDate);
        bksGetHiresTime(hiresDate, hiresTime, nanoseconds);
        bksGetHiresTimeUTC(utcDate, utcTime, utcNanoseconds);
        if (r.fits) {
            EXPECT_EQ(nanoseconds, 123'456'700);
            EXPECT_EQ(utcNanoseconds, 123'456'700);
            EXPECT_EQ(date.year, hiresDate.year);
            EXPECT_EQ(utcDate.year, r.seconds < 0 ? 0 : r.seconds == 0 ? 1970 : 65535);
            EXPECT_EQ(utcTime.zone, 0);
        } else {
            // The clock cannot be told in the records: they stay as they were.
            for (const bdate* d : {&date, &hiresDate, &utcDate})
                EXPECT_EQ(std::make_tuple(d->year, d->month, d->day), std::make_tuple(1234, 5, 6));
            for (const btime* t : {&time, &hiresTime, &utcTime})
                EXPECT_EQ(std::make_tuple(t->hour, t->minute, t->second), std::make_tuple(7, 8, 9));
            EXPECT_EQ(nanoseconds, 0);
            EXPECT_EQ(utcNanoseconds, 0);
        }
    }
    bksgetdate(nullptr);
    bksgettime(nullptr);
    bksgetsystemtime(nullptr, nullptr);
    tq::platform::SetClockSource(previous);
    tq::ResetTimeZoneCache();

    // The hour offset keeps the low 8 bits of any value.
    const int original = KvOffsetHours(INT_MIN);
    EXPECT_EQ(KvOffsetHours(INT_MAX), 0);
    EXPECT_EQ(KvOffsetHours(256), -1);
    EXPECT_EQ(KvOffsetHours(-129), 0);
    EXPECT_EQ(KvOffsetHours(original), 127);
}

TEST(HostileInput, TimersWithExtremeDurations) {
    WindowsTimer ticks;
    Win32HiResTimer counter;
    KvTimer base;
    for (KvTimer* timer : {static_cast<KvTimer*>(&ticks), static_cast<KvTimer*>(&counter)}) {
        timer->Start();
        EXPECT_EQ(timer->IsTimeOver(UINT_MAX, 1), 0);  // 136 years: no wrapped limit
        EXPECT_EQ(timer->IsTimeOver(0, 0), 1);
        for (unsigned percent : {0u, 100u, 101u, UINT_MAX})
            EXPECT_EQ(timer->EstimatedTimeLeft(percent), 0u);
    }
    unsigned hours = 1, minutes = 1, seconds = 1;
    EXPECT_EQ(ticks.HourMinSec(hours, minutes, seconds, 0xFFFFFFFEu), 294u);
    EXPECT_EQ(std::make_tuple(hours, minutes, seconds), std::make_tuple(1193u, 2u, 47u));
    EXPECT_EQ(base.HourMinSec(hours, minutes, seconds, 0xFFFFFFFFu), 0u);  // elapsed 0
    EXPECT_EQ(std::make_tuple(hours, minutes, seconds), std::make_tuple(0u, 0u, 0u));
}

// ---------------------------------------------------------------------------
// Performance data and statistics
// ---------------------------------------------------------------------------

class HostilePerf : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(RegisterStatistics(), 0); }
    void TearDown() override {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ec)) {
            if (entry.path().filename().string().rfind(namespace_, 0) == 0)
                std::filesystem::remove(entry.path(), ec);
        }
    }
    PRFITM* Items() {
        table_.assign(std::begin(tq::g_statisticsItems), std::end(tq::g_statisticsItems));
        return table_.data();
    }

    tq::test::TempDir dir_;
    tq::test::ScopedEnv registry_{"TQ_REGISTRY_ROOT", dir_.File("registry").c_str()};
    tq::test::ScopedEnv events_{"TQ_EVENT_LOG", dir_.File("events").c_str()};
    std::string namespace_ = "tqhostile" + std::to_string(getpid()) + ".";
    tq::test::ScopedEnv shm_{"TQ_SHM_NAMESPACE", namespace_.c_str()};
    std::vector<PRFITM> table_;
};

TEST_F(HostilePerf, CollectWithHostileValueNamesAndBuffers) {
    PrfData provider(u"Tessaloquin", Items());
    ASSERT_EQ(provider.Activate(1), 0);
    const uint32_t whole = provider.BlockSize();
    const std::string index = std::to_string(provider.m_dwFirstCounter);
    const std::vector<std::u16string> names = {
        u"",
        u" ",
        u"Global ",
        u" Global",
        u"GLOBAL\u00e9",
        std::u16string(1, char16_t{0xD800}),
        std::u16string{char16_t{0xDC00}, char16_t{0xD800}, u'1'},
        std::u16string(4096, u'9'),
        u"-1",
        u"4294967295",
        u"99999999999999999999",
        tq::Utf16FromUtf8("0" + index),
        tq::Utf16FromUtf8(index + "\t"),
        tq::Utf16FromUtf8(index + " " + index),  // the object once
        u"gLoBaL",
    };
    for (const std::u16string& name : names) {
        Guarded buffer(2000);
        void* data = buffer.data();
        uint32_t bytes = 2000, objects = 99;
        EXPECT_EQ(provider.Collect(name.c_str(), &data, &bytes, &objects), 0u);
        EXPECT_TRUE(buffer.Intact());
        EXPECT_TRUE(bytes == 0 || bytes == whole) << bytes;
        EXPECT_EQ(objects, bytes != 0 ? 1u : 0u);
        EXPECT_EQ(static_cast<unsigned char*>(data), buffer.data() + bytes);
    }

    // Rooms around what the objects need.
    for (uint32_t room : {0u, 1u, whole - 1, whole, 0xFFFFFFFFu}) {
        Guarded buffer(whole);  // a room larger than this is not believed, only what is needed
        void* data = buffer.data();
        uint32_t bytes = room, objects = 99;
        const uint32_t rc = provider.Collect(u"Global", &data, &bytes, &objects);
        EXPECT_EQ(rc, room < whole ? KV_PERF_MORE_DATA : 0u) << room;
        EXPECT_EQ(bytes, room < whole ? 0u : whole);
        EXPECT_TRUE(buffer.Intact());
    }
    // No buffer at all, whatever room is claimed: no data.
    for (uint32_t room : {0u, whole, 0xFFFFFFFFu}) {
        void* data = nullptr;
        uint32_t bytes = room, objects = 99;
        EXPECT_EQ(provider.Collect(u"Global", &data, &bytes, &objects),
                  room < whole ? KV_PERF_MORE_DATA : 0u);
        EXPECT_EQ(data, nullptr);
        EXPECT_EQ(bytes, 0u);
    }

    // Unknown identifiers and positions.
    EXPECT_EQ(provider.CounterSlot(0, 0), nullptr);
    EXPECT_EQ(provider.CounterSlot(UINTPTR_MAX, 0), nullptr);
    for (INSTID instance : {INSTID{-1}, INSTID{1}, INTPTR_MAX, INTPTR_MIN})
        EXPECT_EQ(provider.CounterSlot(102, instance), nullptr);
    for (int ord : {INT_MIN, -1, 1, INT_MAX}) {
        EXPECT_EQ(provider.CvtObjOrdToPrfItm(ord), nullptr);
        EXPECT_FALSE(provider.IsValidInstId(ord, 0));
    }
    EXPECT_FALSE(provider.IsValidInstId(0, INTPTR_MIN));
    EXPECT_EQ(provider.CvtCtrIdToPrfItmIndex(UINTPTR_MAX), -1);
    EXPECT_EQ(provider.CvtObjIdToObjOrd(0), -1);

    // The entry points with null arguments.
    uint32_t bytes = 7, objects = 7;
    void* data = &bytes;
    char16_t global[] = u"Global";
    EXPECT_EQ(PrfData_Collect(global, nullptr, &bytes, &objects), 0u);
    EXPECT_EQ(PrfData_Collect(global, &data, nullptr, &objects), 0u);
    EXPECT_EQ(PrfData_Collect(global, &data, &bytes, nullptr), 0u);
    EXPECT_EQ(std::make_pair(bytes, objects), std::make_pair(7u, 7u));
    EXPECT_EQ(PrfData_Collect(nullptr, &data, &bytes, &objects), 0u);
    EXPECT_EQ(std::make_pair(bytes, objects), std::make_pair(0u, 0u));
    EXPECT_EQ(data, &bytes);
    EXPECT_EQ(PrfData_Close(), 0u);
}

TEST_F(HostilePerf, CounterTextsWithHostileNamesAndStoredRanges) {
    KvPerfExtension extension;
    ASSERT_EQ(KvQueryPerfExtension("Tessaloquin", &extension), 0);
    Guarded text(1, '#');
    EXPECT_EQ(KvQueryPerfCounterText(extension.firstCounter, 0, nullptr, 10), -1);
    EXPECT_EQ(KvQueryPerfCounterText(extension.firstCounter, 0, text.chars(), 0), -1);
    EXPECT_EQ(text.Contents(), Bytes(1, '#'));
    EXPECT_EQ(KvQueryPerfCounterText(extension.firstCounter, 0, text.chars(), 1), 0);
    EXPECT_EQ(text.Contents(), Bytes(1, 0));  // cut to nothing
    EXPECT_EQ(KvQueryPerfCounterText(extension.firstHelp, INT_MIN, text.chars(), 1), 0);
    EXPECT_TRUE(text.Intact());
    EXPECT_EQ(KvQueryPerfCounterText(0xFFFFFFFFu, 0, text.chars(), 1), -1);

    const std::string longName(4096, 'a');
    for (const char* app : {"", "..", "../Tessaloquin", "Tessaloquin\\..\\Tessaloquin", "a/b",
                            "\x01", "\xff", longName.c_str()}) {
        EXPECT_EQ(KvQueryPerfExtension(app, &extension), -1) << app;
        EXPECT_EQ(KvUnloadPerfCounterTextStrings(("x " + std::string(app)).c_str(), 1), ENOENT);
    }
    EXPECT_EQ(KvQueryPerfExtension(nullptr, &extension), -1);
    EXPECT_EQ(KvQueryPerfExtension("Tessaloquin", nullptr), -1);
    for (const char* line : {static_cast<const char*>(nullptr), "", "x", "x ", "x \"", "x \"open",
                             "x /nonexistent/file.ini", "x \x01\xff"}) {
        EXPECT_EQ(KvLoadPerfCounterTextStrings(line, 1), ENOENT) << (line ? line : "null");
        EXPECT_EQ(KvUnloadPerfCounterTextStrings(line, 1), ENOENT);
    }

    // Stored ranges that end at the top of the index space, or run backwards,
    // remove what they name and end.
    using tq::platform::RegistryKey;
    using tq::platform::RegistryStore;
    for (const auto& [first, last] :
         {std::make_pair(0xFFFFFFFEu, 0xFFFFFFFFu), std::make_pair(0xFFFFFFFFu, 0xFFFFFFFFu),
          std::make_pair(10u, 4u)}) {
        RegistryKey key;
        ASSERT_EQ(
            RegistryStore::CreateKey("SYSTEM\\CurrentControlSet\\Services\\Odd\\Performance", &key),
            tq::platform::RegistryStatus::kOk);
        for (const char* name : {"First Counter", "First Help"})
            ASSERT_TRUE(tq::perf::WriteNumber(key, name, first));
        for (const char* name : {"Last Counter", "Last Help"})
            ASSERT_TRUE(tq::perf::WriteNumber(key, name, last));
        EXPECT_EQ(KvUnloadPerfCounterTextStrings("x Odd", 1), 0);
    }
    // The installation itself is untouched.
    EXPECT_EQ(KvQueryPerfExtension("Tessaloquin", &extension), 0);

    // Open with nothing to map: no data, no fault.
    ASSERT_EQ(DeregisterStatistics(), 0);
    char16_t hostile[] = u"\xD800..";
    EXPECT_EQ(PrfData_Open(nullptr), 0u);
    EXPECT_EQ(PrfData_Open(hostile), 0u);
}

TEST(HostileInput, StatisticsBeforeEnable) {
    KvStatistics statistics;
    EXPECT_FALSE(statistics.IsEnabled());
    for (int id : {INT_MIN, INT_MIN + 1, -1, 0, 100, 123, INT_MAX})
        EXPECT_EQ(statistics.Value(id), 0) << id;
    EXPECT_EQ(Statistics()->Value(INT_MIN), 0);
    statistics.AddLocks(INT_MAX);
    statistics.AddLocks(1);  // counts wrap around, as the shared slots do
    EXPECT_EQ(statistics.Value(111), INT_MIN);
    statistics.AddLocks(INT_MIN);
    EXPECT_EQ(statistics.Value(111), 0);
    statistics.DecWaitingJobs();  // never below 0
    EXPECT_EQ(statistics.Value(119), 0);
    statistics.DecTransactions();
    EXPECT_EQ(statistics.Value(101), -1);
    statistics.Clear();
    for (int id = 101; id <= 122; ++id)
        EXPECT_EQ(statistics.Value(id), 0);
    EXPECT_FALSE(statistics.IsEnabled());
}

}  // namespace
