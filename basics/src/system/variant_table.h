// The table of compiler variants of the product's modules, built once at
// start-up. Its description lookup names the library's event source.
#ifndef KVBASICS_VARIANT_TABLE_H
#define KVBASICS_VARIANT_TABLE_H

#include <cstdint>

namespace tq {

class KvRuntimeVariantTable {
public:
    static constexpr int kVariants = 3;
    static const char* const kVariantNames[kVariants];  // "80", "90", "90x64"

    KvRuntimeVariantTable() = default;
    ~KvRuntimeVariantTable();
    KvRuntimeVariantTable(const KvRuntimeVariantTable&) = delete;
    KvRuntimeVariantTable& operator=(const KvRuntimeVariantTable&) = delete;

    // Finds this build's variant and builds the descriptions of the current
    // variant (full also builds the module names of every variant). An entry
    // whose string cannot be allocated stops there; its later strings stay null.
    void Build(bool full);

    // Frees every string of the four arrays and leaves them null.
    void FreeStrings();

    // The (debug) description of the selected variant; "Tessaloquin Runtime
    // System" alone when no variant is current. May be null when its string
    // could not be allocated.
    const char* Description(bool debug) const;
    // The (debug) module name of the selected variant, or null.
    const char* ModuleName(bool debug) const;

    // The one table of the process, built at start-up.
    static KvRuntimeVariantTable& Instance();

    int16_t current = -1;
    int16_t selected = 0;
    char* description[kVariants] = {};
    char* debugDescription[kVariants] = {};
    char* moduleName[kVariants] = {};
    char* debugModuleName[kVariants] = {};
};

}  // namespace tq

#endif  // KVBASICS_VARIANT_TABLE_H
