// The library's identity as its own modules use it.
#ifndef KVBASICS_IDENTITY_H
#define KVBASICS_IDENTITY_H

#include <cstddef>

namespace tq {

inline constexpr const char* kLibraryDescription = "Tessaloquin Basic Algorithms";
inline constexpr const char* kRuntimeSystemName = "Tessaloquin Runtime System";

// Writes "(Tessaloquin v1.v2.v3.v4.v5)" into buffer, cut to size.
void FormatVersionLabel(char* buffer, size_t size);

}  // namespace tq

#endif  // KVBASICS_IDENTITY_H
