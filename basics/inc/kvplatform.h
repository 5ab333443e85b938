// Platform services of the basics library: the library's identity and the
// naming scheme of the product's modules.
#ifndef KVBASICS_KVPLATFORM_H
#define KVBASICS_KVPLATFORM_H

#include <cstdint>

#include "kvexport.h"

// ---------------------------------------------------------------------------
// Module names
// ---------------------------------------------------------------------------

// Builds the file name (without extension) of one of the product's modules:
// "TQ" + version tag + library tag [+ number] + compiler variant + build suffix.
class KVBASICS_API DllNameClass {
public:
    explicit DllNameClass(const char* tag = nullptr, int32_t number = 0);

    // Composes the name into the buffer and returns the buffer. With neither a
    // number nor a tag the buffer keeps what it holds.
    char* GetDllName();
    operator char const*() { return GetDllName(); }

    // Copies other's composed name and freezes it: tag and number are cleared,
    // so later calls return the copied text unchanged.
    DllNameClass& operator=(DllNameClass& other);

    // Writes "TQ" + name + compiler variant + build suffix into out, which must
    // hold strlen(name) + 8 + strlen(second_char) characters; returns out.
    static char* GetGenericDllName(char const* name, char* out);

    // Build-type suffix appended to every composed name ("" in a release build).
    static const char* second_char;

    static constexpr int kBufferSize = 260;

    const char* tag;
    int32_t number;
    char buffer[kBufferSize];
};

// ---------------------------------------------------------------------------
// Identity of this library
// ---------------------------------------------------------------------------

// Result of a failed version check: "A module has an incompatible version."
inline constexpr int KV_ERR_INCOMPATIBLE_VERSION = -5004;

// Compares five version numbers with the library's own. The first two must
// match (and flags must be non-zero); flag bits 2, 4 and 8 ask for the third,
// fourth and fifth to match as well, bits 28, 29 and 30 waive those tests.
// Returns 0 or -5004.
KVBASICS_API int CheckKvVersionNumber(unsigned number1, unsigned number2, unsigned number3,
                                      unsigned number4, unsigned number5, int flags);

// CheckKvVersionNumber with the library's own numbers and flags | 3.
KVBASICS_C int KvCheckDll(int flags);

// Fills every out-parameter (none may be null) with the library's identity and
// returns its description. All strings are constants of the library.
KVBASICS_C const char* KvDescribeDll(unsigned* number1, unsigned* number2, unsigned* number3,
                                     unsigned* number4, unsigned* number5, char const** moduleName,
                                     char const** buildDateTime, char const** buildInfo,
                                     unsigned* compilerVersion, char const** compilerText,
                                     char const** extraText);

// Fills each out-parameter that is not null. descriptionAndVersion points to a
// module-wide buffer rebuilt on every call (valid until the next call).
KVBASICS_C void GETKVBASICSINFO(char const** compilerText, unsigned* compilerVersion,
                                char const** descriptionAndVersion, char const** buildDate,
                                char const** moduleName);

// Exported for the product's other modules; does nothing.
KVBASICS_API void ___KvBasicsContext(int);

#endif  // KVBASICS_KVPLATFORM_H
