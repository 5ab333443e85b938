// CRC-32 against zlib, in one piece and in random pieces, on both engines.
#include <zlib.h>

#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "checksum.h"
#include "memfile.h"

namespace {

unsigned char* Bytes(const char* text) {
    return reinterpret_cast<unsigned char*>(const_cast<char*>(text));
}

uint32_t Zlib(const std::vector<unsigned char>& data, size_t from, size_t to) {
    return static_cast<uint32_t>(crc32(0L, data.data() + from, static_cast<uInt>(to - from)));
}

TEST(CheckSum, CheckValueAndEmptyInput) {
    EXPECT_EQ(CalcCheckSum(Bytes("123456789"), 9, nullptr), 0xCBF43926u);
    unsigned int first = CalcCheckSum(Bytes("1234"), 4, nullptr);
    EXPECT_EQ(CalcCheckSum(Bytes("56789"), 5, &first), 0xCBF43926u);
    EXPECT_EQ(first, CalcCheckSum(Bytes("1234"), 4, nullptr));  // previous is only read

    unsigned int previous = 0x12345678u;
    EXPECT_EQ(CalcCheckSum(nullptr, 10, nullptr), 0u);
    EXPECT_EQ(CalcCheckSum(Bytes("x"), 0, nullptr), 0u);
    EXPECT_EQ(CalcCheckSum(nullptr, 10, &previous), 0x12345678u);
    EXPECT_EQ(CalcCheckSum(Bytes("x"), 0, &previous), 0x12345678u);
}

TEST(CheckSum, EqualsZlibOnRandomDataAndSplits) {
    std::mt19937 random(20261206);
    std::vector<unsigned char> data(70000);
    for (auto& b : data)
        b = static_cast<unsigned char>(random());
    std::vector<size_t> lengths = {1, 15, 16, 17, 63, 64, 65, 127, 128, 129, 4096, 70000};
    for (int i = 0; i < 200; ++i)
        lengths.push_back(random() % 5000);
    for (size_t length : lengths) {
        SCOPED_TRACE(length);
        const size_t offset = random() % 16;  // unaligned starts too
        if (offset + length > data.size()) continue;
        const uint32_t expected = Zlib(data, offset, offset + length);
        EXPECT_EQ(CalcCheckSum(data.data() + offset, static_cast<unsigned int>(length), nullptr),
                  expected);
        EXPECT_EQ(~tq::Crc32Table(~0u, data.data() + offset, length), expected);
        if (tq::Crc32ClmulAvailable()) {
            EXPECT_EQ(~tq::Crc32Clmul(~0u, data.data() + offset, length), expected);
        }
        // Two pieces, chained through the finished value.
        const size_t split = length == 0 ? 0 : random() % length;
        unsigned int head =
            CalcCheckSum(data.data() + offset, static_cast<unsigned int>(split), nullptr);
        EXPECT_EQ(CalcCheckSum(data.data() + offset + split,
                               static_cast<unsigned int>(length - split), &head),
                  expected);
    }
}

}  // namespace
