// The two CRC-32 engines behind CalcCheckSum, for tests and benchmarks.
#ifndef KVBASICS_CHECKSUM_H
#define KVBASICS_CHECKSUM_H

#include <cstddef>
#include <cstdint>

namespace tq {

// Both continue the raw CRC register (not the finished, inverted value).

// Portable table code, sixteen bytes per round.
uint32_t Crc32Table(uint32_t reg, const uint8_t* data, size_t length);

// Carry-less multiplication; only where Crc32ClmulAvailable() says so.
bool Crc32ClmulAvailable();
uint32_t Crc32Clmul(uint32_t reg, const uint8_t* data, size_t length);

}  // namespace tq

#endif  // KVBASICS_CHECKSUM_H
