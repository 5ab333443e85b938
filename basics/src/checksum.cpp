// CRC-32 of IEEE 802.3 (reflected polynomial 0xEDB88320, preset and final
// inversion), carried between calls as the finished value.
#include "checksum.h"

#include <cstring>

#include "memfile.h"

namespace tq {
namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;

// Sixteen tables for slicing sixteen bytes per round: table 0 is the classic
// byte table, table k advances a byte through k further zero bytes.
struct CrcTables {
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

inline uint32_t LoadLittle32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Below this length the carry-less path does not pay for its set-up.
constexpr size_t kClmulMinimum = 64;

const bool g_useClmul = Crc32ClmulAvailable();

}  // namespace

uint32_t Crc32Table(uint32_t reg, const uint8_t* data, size_t length) {
    const auto& t = kTables.t;
    while (length >= 16) {
        uint32_t a = LoadLittle32(data) ^ reg;
        uint32_t b = LoadLittle32(data + 4);
        uint32_t c = LoadLittle32(data + 8);
        uint32_t d = LoadLittle32(data + 12);
        reg = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
              t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^
              t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF] ^ t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^
              t[3][d & 0xFF] ^ t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^ t[0][d >> 24];
        data += 16;
        length -= 16;
    }
    while (length-- > 0)
        reg = t[0][(reg ^ *data++) & 0xFF] ^ (reg >> 8);
    return reg;
}

}  // namespace tq

unsigned int CalcCheckSum(unsigned char* data, unsigned int length, unsigned int* previous) {
    uint32_t reg = previous != nullptr ? ~*previous : 0xFFFFFFFFu;
    if (data == nullptr || length == 0) return ~reg;
    if (tq::g_useClmul && length >= tq::kClmulMinimum) {
        reg = tq::Crc32Clmul(reg, data, length);
    } else {
        reg = tq::Crc32Table(reg, data, length);
    }
    return ~reg;
}
