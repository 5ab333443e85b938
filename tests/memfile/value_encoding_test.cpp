// The portable value encoding: byte images, format bits, round trips, sizes
// and character fields.
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kvbasics.h"

namespace {

using Bytes = std::vector<unsigned char>;

template <typename T, typename F>
Bytes Image(F convert, T value, unsigned char format) {
    Bytes out(sizeof(T));
    EXPECT_EQ(convert(out.data(), &value, format, 1), sizeof(T));
    return out;
}

TEST(ValueEncodingTest, EveryFormatReversesOrCopiesAndRoundTrips) {
    using Fn = unsigned int (*)(void*, const void*, unsigned char, unsigned int);
    struct Encoding {
        Fn convert;
        unsigned int width, formatMask;  // mask 0: never reversed
    };
    const Encoding encodings[] = {{CharStore, 1, 0},       {ShortStore, 2, 0xF},
                                  {LongStore, 4, 0xF},     {O_8BStore, 8, 0xF},
                                  {IntStore, 4, 0xF},      {IntLoad, 4, 0xF},
                                  {UnsignedStore, 4, 0xF}, {UnsignedLoad, 4, 0xF},
                                  {FloatStore, 4, 0x7F},   {DoubleStore, 8, 0x7F}};
    std::mt19937 rng(34);
    int which = 0;
    for (Encoding const& e : encodings) {
        const unsigned int bytes = 5 * e.width;
        for (int format = 0; format < 256; ++format) {
            // Odd offsets: no value is aligned in either buffer.
            Bytes src(bytes + 2), dst(bytes + 6, 0xEE), back(bytes + 2);
            for (auto& b : src)
                b = static_cast<unsigned char>(rng());
            const bool reversed = (format & e.formatMask) == 2;
            ASSERT_EQ(e.convert(&dst[3], &src[1], static_cast<unsigned char>(format), 5), bytes);
            for (unsigned int k = 0; k < bytes; ++k) {
                unsigned int j = reversed ? k + e.width - 1 - 2 * (k % e.width) : k;
                ASSERT_EQ(dst[3 + k], src[1 + j]) << which << " format " << format;
            }
            EXPECT_TRUE(dst[2] == 0xEE && dst[3 + bytes] == 0xEE) << which;
            e.convert(&back[1], &dst[3], static_cast<unsigned char>(format), 5);
            EXPECT_TRUE(std::equal(&back[1], &back[1] + bytes, &src[1])) << which;
        }
        unsigned char untouched = 0xEE;
        EXPECT_EQ(e.convert(&untouched, "x", 2, 0), 0u) << which++;
        EXPECT_EQ(untouched, 0xEE);
    }
}

TEST(ValueEncodingTest, ByteImages) {
    const uint32_t value = 0x11223344;
    for (unsigned char format : {0x02, 0x12, 0xF2}) {
        EXPECT_EQ(Image(LongStore, value, format), (Bytes{0x11, 0x22, 0x33, 0x44}));
    }
    for (unsigned char format : {0, 1, 3}) {
        EXPECT_EQ(Image(LongStore, value, format), (Bytes{0x44, 0x33, 0x22, 0x11}));
    }
    const uint16_t shorts[] = {0x0102, 0x0304};
    Bytes image(8);
    EXPECT_EQ(ShortStore(image.data(), shorts, 2, 2), 4u);
    EXPECT_EQ(Bytes(image.begin(), image.begin() + 4), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(ShortStoreOne(&image[1], shorts, 0x12), 2u);
    EXPECT_EQ(LongStoreOne(&image[1], &value, 2), 4u);
    EXPECT_EQ(image, (Bytes{1, 0x11, 0x22, 0x33, 0x44, 0, 0, 0}));
    const uint64_t wide = 0x0102030405060708;
    EXPECT_EQ(O_8BStoreOne(image.data(), &wide, 2), 8u);
    EXPECT_EQ(image, (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
    int32_t loaded = 0;
    EXPECT_EQ(IntLoad(&loaded, "\0\0\1\0", 2, 1), 4u);
    EXPECT_EQ(loaded, 256);

    EXPECT_EQ(Image(FloatStore, 1.0f, 0x12), (Bytes{0, 0, 0x80, 0x3F}));
    EXPECT_EQ(Image(FloatStore, 1.0f, 0x82), (Bytes{0x3F, 0x80, 0, 0}));
    char buffer[9] = {};
    stfloat(1.0f, buffer + 1);
    EXPECT_EQ(Bytes(buffer + 1, buffer + 5), (Bytes{0x3F, 0x80, 0, 0}));
    EXPECT_EQ(ldfloat(buffer + 1), 1.0f);
    stdbl(1.0, buffer + 1);
    EXPECT_EQ(Bytes(buffer + 1, buffer + 9), (Bytes{0x3F, 0xF0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(lddbl(buffer + 1), 1.0);
}

TEST(ValueEncodingTest, SizesOfValuesAndNulls) {
    using SizeFn = unsigned int (*)(const void*, unsigned char, unsigned char, unsigned int);
    const std::tuple<SizeFn, unsigned int (*)(unsigned int), unsigned int> rows[] = {
        {CharSizeGet, CharNullSizeGet, 1},    {ShortSizeGet, ShortNullSizeGet, 2},
        {IntSizeGet, IntNullSizeGet, 4},      {LongSizeGet, LongNullSizeGet, 4},
        {O_8BSizeGet, O_8BNullSizeGet, 8},    {FloatSizeGet, FloatNullSizeGet, 4},
        {DoubleSizeGet, DoubleNullSizeGet, 8}};
    for (auto [size, null, width] : rows) {
        for (unsigned int count : {0u, 3u, 7u}) {
            EXPECT_EQ(size(nullptr, 1, 2, count), width * count);
            EXPECT_EQ(size("x", 2, 1, count), width * count);
            EXPECT_EQ(null(count), width * count);
        }
    }
}

TEST(ValueEncodingTest, CharacterFields) {
    auto store = [](const char* text, int len) {
        std::string field(len + 1, '#');
        stchar(const_cast<char*>(text), field.data(), len);
        return field;
    };
    EXPECT_EQ(store("AB", 5), "AB   #");
    EXPECT_EQ(store("ABCDEFG", 5), "ABCDE#");
    EXPECT_EQ(store("", 5), "     #");
    EXPECT_EQ(store("AB", 0), "#");
    auto load = [](const char* field, int len) {
        std::string str(len + 2, '#');
        ldchar(const_cast<char*>(field), len, str.data());
        return str;
    };
    EXPECT_EQ(load("ABCDE", 5), "ABCDE##");  // no terminator
    EXPECT_EQ(load("AB   ", 5), std::string("AB\0####", 7));
    EXPECT_EQ(load("AB CD", 5), std::string("AB\0####", 7));
    EXPECT_EQ(load(" ABCD", 5), std::string("\0######", 7));
    EXPECT_EQ(load("ABCDE", 0), "##");
}

}  // namespace
