// The byte scan behind DScomp, for tests.
#ifndef KVBASICS_COMPRESS_H
#define KVBASICS_COMPRESS_H

#include <cstdint>

namespace tq {

// Bit k (0 to 63) is set when p[k] == p[k + 1]; reads p[0] to p[64]. The
// portable form and the one the compiler's target allows (SSE2 where there).
uint64_t EqualNextMaskPortable(const unsigned char* p);
uint64_t EqualNextMask(const unsigned char* p);

}  // namespace tq

#endif  // KVBASICS_COMPRESS_H
