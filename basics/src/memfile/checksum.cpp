// CRC-32 of IEEE 802.3 (reflected polynomial 0xEDB88320, preset and final
// inversion), carried between calls as the finished value.
//
// The table code reads sixteen bytes per round, but one round depends on the
// one before, so a single register keeps the processor waiting on its loads.
// Long inputs are therefore cut into three lanes that run side by side, each
// with its own register, and the three registers are joined at the end with a
// shift: crc(A || B) = crc(A) * x^(8 |B|) + crc0(B) (mod P), where crc0 starts
// from zero. A shift by a fixed length is a linear map of the 32 register bits,
// so it is four table look-ups. The shift itself is a carry-less
// multiplication by x^(8n) mod P, built by squaring and multiplying from the
// powers x^(8 * 2^k): at compile time for the lane tables, at run time in
// Crc32Shift for any length.
#include "memfile/checksum.h"

#include <bit>
#include <cstring>

#include "memfile.h"

namespace tq {
namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;

// Sixteen tables for slicing sixteen bytes per round: table 0 is the classic
// byte table, table k advances a byte through k further zero bytes.
struct alignas(64) CrcTables {
    uint32_t t[16][256];
};

constexpr CrcTables MakeTables() {
    CrcTables tables{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t r = i;
        for (int bit = 0; bit < 8; ++bit)
            r = (r >> 1) ^ ((r & 1u) != 0 ? kPolynomial : 0u);
        tables.t[0][i] = r;
    }
    for (int k = 1; k < 16; ++k) {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t previous = tables.t[k - 1][i];
            tables.t[k][i] = (previous >> 8) ^ tables.t[0][previous & 0xFFu];
        }
    }
    return tables;
}

// Fixed at build time.
constexpr CrcTables kTables = MakeTables();
static_assert(kTables.t[0][1] == 0x77073096u && kTables.t[0][255] == 0x2D02EF8Du);

// Polynomials mod P in the reflected order of the register: bit 31 holds the
// coefficient of x^0, bit 0 that of x^31.
constexpr uint32_t kOne = 0x80000000u;

// a * b mod P, one bit of b at a time.
constexpr uint32_t MultiplyModP(uint32_t a, uint32_t b) {
    uint32_t product = 0;
    for (int bit = 0; bit < 32; ++bit) {
        product ^= a & (0u - (b >> 31));  // adds a when b has x^bit
        b <<= 1;
        a = (a >> 1) ^ (kPolynomial & (0u - (a & 1u)));  // a *= x
    }
    return product;
}

// x^(8 * 2^k) mod P: the shift by 2^k bytes.
struct BytePowers {
    uint32_t p[64];
};

constexpr BytePowers MakeBytePowers() {
    BytePowers powers{};
    uint32_t x8 = kOne;
    for (int bit = 0; bit < 8; ++bit)
        x8 = (x8 >> 1) ^ (kPolynomial & (0u - (x8 & 1u)));
    powers.p[0] = x8;
    for (int k = 1; k < 64; ++k)
        powers.p[k] = MultiplyModP(powers.p[k - 1], powers.p[k - 1]);
    return powers;
}

constexpr BytePowers kBytePowers = MakeBytePowers();

// x^(8n) mod P by square-and-multiply over the precomputed powers.
constexpr uint32_t ShiftFactor(uint64_t bytes) {
    uint32_t factor = kOne;
    for (int k = 0; bytes != 0; ++k, bytes >>= 1) {
        if ((bytes & 1u) != 0) factor = MultiplyModP(factor, kBytePowers.p[k]);
    }
    return factor;
}

// The shift by a fixed number of bytes as four byte tables.
struct alignas(64) ShiftTable {
    uint32_t t[4][256];
};

constexpr ShiftTable MakeShiftTable(uint64_t bytes) {
    const uint32_t factor = ShiftFactor(bytes);
    ShiftTable table{};
    for (int j = 0; j < 4; ++j) {
        for (uint32_t i = 0; i < 256; ++i)
            table.t[j][i] = MultiplyModP(i << (8 * j), factor);
    }
    return table;
}

inline uint32_t Shift(const ShiftTable& s, uint32_t reg) {
    return s.t[0][reg & 0xFF] ^ s.t[1][(reg >> 8) & 0xFF] ^ s.t[2][(reg >> 16) & 0xFF] ^
           s.t[3][reg >> 24];
}

// Three lanes of kLongLane bytes make the blocks of long inputs: a 4 KiB page
// is one block and sixteen bytes. What remains goes in blocks of three short
// lanes. Joining the lanes shifts by one lane length twice.
constexpr size_t kLongLane = 1360;
constexpr size_t kShortLane = 256;
constexpr ShiftTable kShiftLong = MakeShiftTable(kLongLane);
constexpr ShiftTable kShiftShort = MakeShiftTable(kShortLane);

// One 32-bit load (compilers keep a loop of byte loads as byte loads, which
// crowds the load ports), in little-endian order.
inline uint32_t LoadLittle32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
    return v;
}

// Sixteen bytes into the register.
inline uint32_t Round16(uint32_t reg, const uint8_t* data) {
    const auto& t = kTables.t;
    const uint32_t a = LoadLittle32(data) ^ reg;
    const uint32_t b = LoadLittle32(data + 4);
    const uint32_t c = LoadLittle32(data + 8);
    const uint32_t d = LoadLittle32(data + 12);
    return t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
           t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^
           t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF] ^ t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^
           t[3][d & 0xFF] ^ t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^ t[0][d >> 24];
}

// Whole blocks of three lanes of `lane` bytes each.
inline uint32_t ThreeLanes(uint32_t reg, const uint8_t*& data, size_t& length, size_t lane,
                           const ShiftTable& shift) {
    while (length >= 3 * lane) {
        uint32_t b = 0;
        uint32_t c = 0;
        for (size_t i = 0; i < lane; i += 16) {
            reg = Round16(reg, data + i);
            b = Round16(b, data + lane + i);
            c = Round16(c, data + 2 * lane + i);
        }
        reg = Shift(shift, Shift(shift, reg) ^ b) ^ c;
        data += 3 * lane;
        length -= 3 * lane;
    }
    return reg;
}

enum class Engine { kTable, kClmul, kClmulWide };

Engine PickEngine() {
    if (Crc32ClmulWideAvailable()) return Engine::kClmulWide;
    if (Crc32ClmulAvailable()) return Engine::kClmul;
    return Engine::kTable;
}

const Engine g_engine = PickEngine();

}  // namespace

uint32_t Crc32Shift(uint32_t reg, uint64_t bytes) {
    return MultiplyModP(reg, ShiftFactor(bytes));
}

uint32_t Crc32Table(uint32_t reg, const uint8_t* data, size_t length) {
    reg = ThreeLanes(reg, data, length, kLongLane, kShiftLong);
    reg = ThreeLanes(reg, data, length, kShortLane, kShiftShort);
    for (; length >= 16; data += 16, length -= 16)
        reg = Round16(reg, data);
    const auto& t = kTables.t;
    if (length >= 8) {
        const uint32_t a = LoadLittle32(data) ^ reg;
        const uint32_t b = LoadLittle32(data + 4);
        reg = t[7][a & 0xFF] ^ t[6][(a >> 8) & 0xFF] ^ t[5][(a >> 16) & 0xFF] ^ t[4][a >> 24] ^
              t[3][b & 0xFF] ^ t[2][(b >> 8) & 0xFF] ^ t[1][(b >> 16) & 0xFF] ^ t[0][b >> 24];
        data += 8;
        length -= 8;
    }
    if (length >= 4) {
        const uint32_t a = LoadLittle32(data) ^ reg;
        reg = t[3][a & 0xFF] ^ t[2][(a >> 8) & 0xFF] ^ t[1][(a >> 16) & 0xFF] ^ t[0][a >> 24];
        data += 4;
        length -= 4;
    }
    for (; length > 0; --length)
        reg = t[0][(reg ^ *data++) & 0xFF] ^ (reg >> 8);
    return reg;
}

}  // namespace tq

unsigned int CalcCheckSum(unsigned char* data, unsigned int length, unsigned int* previous) {
    uint32_t reg = previous != nullptr ? ~*previous : 0xFFFFFFFFu;
    if (data == nullptr || length == 0) return ~reg;
    switch (tq::g_engine) {
        case tq::Engine::kClmulWide:
            reg = tq::Crc32ClmulWide(reg, data, length);
            break;
        case tq::Engine::kClmul:
            reg = tq::Crc32Clmul(reg, data, length);
            break;
        case tq::Engine::kTable:
            reg = tq::Crc32Table(reg, data, length);
            break;
    }
    return ~reg;
}
