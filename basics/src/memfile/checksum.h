// The CRC-32 engines behind CalcCheckSum, for tests and benchmarks.
#ifndef KVBASICS_CHECKSUM_H
#define KVBASICS_CHECKSUM_H

#include <cstddef>
#include <cstdint>

namespace tq {

// All continue the raw CRC register (not the finished, inverted value).

// Portable table code, sixteen bytes per round in three lanes.
uint32_t Crc32Table(uint32_t reg, const uint8_t* data, size_t length);

// The register moved over `bytes` zero bytes: reg * x^(8 bytes) mod P. Joins
// two pieces: reg(A || B) = Crc32Shift(reg(A), |B|) ^ (reg of B from zero).
uint32_t Crc32Shift(uint32_t reg, uint64_t bytes);

// Carry-less multiplication on 128-bit registers; only where
// Crc32ClmulAvailable() says so.
bool Crc32ClmulAvailable();
uint32_t Crc32Clmul(uint32_t reg, const uint8_t* data, size_t length);

// Carry-less multiplication on 512-bit registers; only where
// Crc32ClmulWideAvailable() says so. Short inputs go to Crc32Clmul.
bool Crc32ClmulWideAvailable();
uint32_t Crc32ClmulWide(uint32_t reg, const uint8_t* data, size_t length);

}  // namespace tq

#endif  // KVBASICS_CHECKSUM_H
