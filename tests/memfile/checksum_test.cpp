// CRC-32 against zlib, in one piece and in random pieces, on every engine the
// processor has, and the shift that joins pieces.
#include <zlib.h>

#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "memfile.h"
#include "memfile/checksum.h"

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
    // Around the block sizes of the engines: 16-byte rounds, 64- and 256-byte
    // folds, three lanes of 256 and of 1360 bytes.
    std::vector<size_t> lengths = {1,    7,    8,    12,   15,   16,    17,    63,   64,
                                   65,   127,  128,  129,  255,  256,   257,   319,  320,
                                   767,  768,  769,  783,  4079, 4080,  4081,  4096, 4863,
                                   4864, 8160, 8191, 8943, 9000, 65536, 69983, 69984};
    for (int i = 0; i < 300; ++i)
        lengths.push_back(random() % (i < 250 ? 5000 : 69984));
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
        if (tq::Crc32ClmulWideAvailable()) {
            EXPECT_EQ(~tq::Crc32ClmulWide(~0u, data.data() + offset, length), expected);
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

TEST(CheckSum, ShiftJoinsPieces) {
    std::mt19937 random(7);
    std::vector<unsigned char> data(9000);
    for (auto& b : data)
        b = static_cast<unsigned char>(random());
    const std::vector<unsigned char> zeros(3000, 0);
    for (int i = 0; i < 400; ++i) {
        const size_t length = i < 100 ? static_cast<size_t>(i) : random() % data.size();
        const size_t split = length == 0 ? 0 : random() % (length + 1);
        SCOPED_TRACE(testing::Message() << length << " split " << split);
        const uint32_t head = tq::Crc32Table(~0u, data.data(), split);
        const uint32_t tail = tq::Crc32Table(0, data.data() + split, length - split);
        EXPECT_EQ(tq::Crc32Shift(head, length - split) ^ tail,
                  tq::Crc32Table(~0u, data.data(), length));
        // A shift is the register run over zero bytes.
        const size_t n = length % zeros.size();
        EXPECT_EQ(tq::Crc32Shift(head, n), tq::Crc32Table(head, zeros.data(), n));
        // Shifts add up, also over lengths no buffer could hold.
        const uint64_t m = (uint64_t{random()} << 32) | random();
        EXPECT_EQ(tq::Crc32Shift(tq::Crc32Shift(head, m), n), tq::Crc32Shift(head, m + n));
    }
    EXPECT_EQ(tq::Crc32Shift(0, 12345), 0u);
}

}  // namespace
