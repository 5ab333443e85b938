// The value encoding on arbitrary bytes, formats and counts: every Store and
// Load against a byte-reversal model, at any alignment, into exactly sized
// blocks and in place; round trips; the size functions; character fields and
// the single floating-point values.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "fuzz_common.h"
#include "memfile.h"

namespace {

using tq::fuzz::ExactBuffer;
using Conversion = unsigned int (*)(void*, const void*, unsigned char, unsigned int);
using SizeFunction = unsigned int (*)(const void*, unsigned char, unsigned char, unsigned int);

struct Family {
    Conversion convert;
    unsigned width;
    unsigned char formatMask;  // 0: never reverses
};

constexpr Family kFamilies[] = {
    {CharStore, 1, 0},        {ShortStore, 2, 0x0F},   {LongStore, 4, 0x0F},
    {O_8BStore, 8, 0x0F},     {IntStore, 4, 0x0F},     {IntLoad, 4, 0x0F},
    {UnsignedStore, 4, 0x0F}, {UnsignedLoad, 4, 0x0F}, {FloatStore, 4, 0x7F},
    {DoubleStore, 8, 0x7F},
};

struct One {
    unsigned int (*convert)(void*, const void*, unsigned char);
    unsigned width;
};
constexpr One kSingles[] = {{ShortStoreOne, 2}, {LongStoreOne, 4}, {O_8BStoreOne, 8}};

struct Size {
    SizeFunction size;
    unsigned int (*nullSize)(unsigned int);
    unsigned width;
};
constexpr Size kSizes[] = {
    {CharSizeGet, CharNullSizeGet, 1},     {ShortSizeGet, ShortNullSizeGet, 2},
    {IntSizeGet, IntNullSizeGet, 4},       {LongSizeGet, LongNullSizeGet, 4},
    {O_8BSizeGet, O_8BNullSizeGet, 8},     {FloatSizeGet, FloatNullSizeGet, 4},
    {DoubleSizeGet, DoubleNullSizeGet, 8},
};

// The image: each value's bytes reversed for the portable order (the host is
// little-endian), else copied.
std::vector<unsigned char> Image(const std::vector<unsigned char>& src, unsigned width,
                                 bool reverse) {
    std::vector<unsigned char> out = src;
    if (reverse) {
        for (size_t at = 0; at + width <= out.size(); at += width)
            std::reverse(out.begin() + static_cast<long>(at),
                         out.begin() + static_cast<long>(at + width));
    }
    return out;
}

// A block whose last byte ends exactly at the end of the allocation, starting
// skew bytes into it so that values lie at any alignment.
struct Placed {
    Placed(size_t size, unsigned skew) : block(size + skew), at(block.data() + skew) {}
    ExactBuffer block;
    unsigned char* at;
};

void CheckConversion(const Family& f, unsigned char format, const std::vector<unsigned char>& src,
                     unsigned skew) {
    const auto count = static_cast<unsigned>(src.size() / f.width);
    const size_t bytes = size_t{count} * f.width;
    const std::vector<unsigned char> values(src.begin(), src.begin() + static_cast<long>(bytes));
    const bool reverse = f.formatMask != 0 && (format & f.formatMask) == KV_FORMAT_PORTABLE;
    const std::vector<unsigned char> want = Image(values, f.width, reverse);

    Placed in(bytes, skew), out(bytes, (skew * 3) % 8);
    if (bytes != 0) std::memcpy(in.at, values.data(), bytes);
    FUZZ_CHECK(f.convert(out.at, in.at, format, count) == bytes);
    FUZZ_CHECK(std::equal(want.begin(), want.end(), out.at));
    FUZZ_CHECK(std::equal(values.begin(), values.end(), in.at));  // the source stays
    // Back again gives the values; in place gives the same image.
    Placed back(bytes, skew);
    FUZZ_CHECK(f.convert(back.at, out.at, format, count) == bytes);
    FUZZ_CHECK(std::equal(values.begin(), values.end(), back.at));
    FUZZ_CHECK(f.convert(in.at, in.at, format, count) == bytes);
    FUZZ_CHECK(std::equal(want.begin(), want.end(), in.at));
}

// Character fields: copy up to a blank or len bytes; pad with blanks.
void CheckCharacterFields(FuzzedDataProvider& in) {
    const int len = in.ConsumeIntegralInRange(-2, 64);
    const size_t room = static_cast<size_t>(std::max(len, 0));
    const std::vector<char> field = in.ConsumeBytes<char>(room);
    ExactBuffer f(room);
    std::memset(f.data(), ' ', room);
    if (!field.empty()) std::memcpy(f.data(), field.data(), field.size());
    // ldchar writes at most len bytes: the terminator only in place of a blank.
    ExactBuffer str(room);
    std::memset(str.data(), '#', room);
    ldchar(reinterpret_cast<char*>(f.data()), len, reinterpret_cast<char*>(str.data()));
    size_t blank = 0;
    while (blank < room && f.data()[blank] != ' ')
        ++blank;
    FUZZ_CHECK(std::equal(f.data(), f.data() + blank, str.data()));
    if (blank < room) {
        FUZZ_CHECK(str.data()[blank] == '\0');
        FUZZ_CHECK(std::all_of(str.data() + blank + 1, str.data() + room,
                               [](unsigned char c) { return c == '#'; }));
    }

    const std::string text = in.ConsumeRandomLengthString(80);
    ExactBuffer terminated(text.size() + 1, text.c_str());
    ExactBuffer stored(room);
    stchar(reinterpret_cast<char*>(terminated.data()), reinterpret_cast<char*>(stored.data()), len);
    const size_t copied = std::min(std::strlen(text.c_str()), room);
    FUZZ_CHECK(std::memcmp(text.data(), stored.data(), copied) == 0);
    FUZZ_CHECK(std::all_of(stored.data() + copied, stored.data() + room,
                           [](unsigned char c) { return c == ' '; }));
}

// The single values in the portable order, bit for bit both ways.
void CheckSingleFloats(FuzzedDataProvider& in) {
    unsigned char bytes[8] = {};
    in.ConsumeData(bytes, sizeof bytes);
    ExactBuffer four(4, bytes), eight(8, bytes), out4(4), out8(8);
    const float f = ldfloat(reinterpret_cast<char*>(four.data()));
    unsigned char native[8];
    std::memcpy(native, &f, 4);
    FUZZ_CHECK(native[0] == bytes[3] && native[1] == bytes[2] && native[2] == bytes[1] &&
               native[3] == bytes[0]);
    stfloat(f, reinterpret_cast<char*>(out4.data()));
    FUZZ_CHECK(std::memcmp(out4.data(), bytes, 4) == 0);
    const double d = lddbl(reinterpret_cast<char*>(eight.data()));
    std::memcpy(native, &d, 8);
    for (int i = 0; i < 8; ++i)
        FUZZ_CHECK(native[i] == bytes[7 - i]);
    stdbl(d, reinterpret_cast<char*>(out8.data()));
    FUZZ_CHECK(std::memcmp(out8.data(), bytes, 8) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const auto format = in.ConsumeIntegral<unsigned char>();
    const unsigned skew = in.ConsumeIntegralInRange(0u, 7u);
    const unsigned count = in.ConsumeIntegral<unsigned>();
    const Family& family =
        kFamilies[in.ConsumeIntegralInRange<size_t>(0, std::size(kFamilies) - 1)];
    const One& single = kSingles[in.ConsumeIntegralInRange<size_t>(0, std::size(kSingles) - 1)];

    // The sizes count in 32 bits, whatever the count.
    for (const Size& s : kSizes) {
        FUZZ_CHECK(s.size(nullptr, format, format, count) == s.width * count);
        FUZZ_CHECK(s.nullSize(count) == s.width * count);
    }

    ExactBuffer oneIn(single.width), oneOut(single.width);
    in.ConsumeData(oneIn.data(), single.width);
    FUZZ_CHECK(single.convert(oneOut.data(), oneIn.data(), format) == single.width);
    const std::vector<unsigned char> value(oneIn.data(), oneIn.data() + single.width);
    const std::vector<unsigned char> image =
        Image(value, single.width, (format & 0x0F) == KV_FORMAT_PORTABLE);
    FUZZ_CHECK(std::equal(image.begin(), image.end(), oneOut.data()));

    CheckCharacterFields(in);
    CheckSingleFloats(in);
    CheckConversion(family, format, in.ConsumeRemainingBytes<unsigned char>(), skew);
    return 0;
}
