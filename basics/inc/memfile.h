// Memory files and byte encodings of the basics library: the memory file,
// checksums, byte compression, the portable value encoding, the memory queue
// and the raw buffer.
#ifndef KVBASICS_MEMFILE_H
#define KVBASICS_MEMFILE_H

#include <cstddef>
#include <cstdint>

#include "kvexport.h"

// ---------------------------------------------------------------------------
// Checksums
// ---------------------------------------------------------------------------

// ---------------------------------------------------------------------------
// Byte compression
// ---------------------------------------------------------------------------

// ---------------------------------------------------------------------------
// Portable value encoding
// ---------------------------------------------------------------------------

#endif  // KVBASICS_MEMFILE_H
