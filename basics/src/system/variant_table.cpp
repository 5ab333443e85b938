#include "system/variant_table.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kvplatform.h"
#include "kvversion.h"
#include "util/no_destructor.h"

namespace tq {
namespace {

constexpr const char* kRuntimeSystem = "Tessaloquin Runtime System";

// Allocates a formatted string with malloc; null when the heap refuses.
char* AllocFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
char* AllocFormat(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    // GCOVR_EXCL_BR_START: the callers' formats cannot fail; malloc fails only on a dying heap
    char* text = n < 0 ? nullptr : static_cast<char*>(std::malloc(static_cast<size_t>(n) + 1));
    if (text != nullptr) std::vsnprintf(text, static_cast<size_t>(n) + 1, format, args);
    // GCOVR_EXCL_BR_STOP
    va_end(args);
    return text;
}

}  // namespace

const char* const KvRuntimeVariantTable::kVariantNames[kVariants] = {"80", "90", "90x64"};

KvRuntimeVariantTable::~KvRuntimeVariantTable() {
    FreeStrings();
}

void KvRuntimeVariantTable::FreeStrings() {
    for (char** strings : {description, debugDescription, moduleName, debugModuleName}) {
        for (int i = 0; i < kVariants; ++i) {
            std::free(strings[i]);
            strings[i] = nullptr;
        }
    }
}

void KvRuntimeVariantTable::Build(bool full) {
    for (int i = 0; i < kVariants; ++i) {
        const char* variant = kVariantNames[i];
        if (std::strcmp(variant, KV_COMPILER_VARIANT) == 0) current = static_cast<int16_t>(i);
        if (!full && i != current) continue;
        if (description[i] == nullptr) {
            description[i] =
                AllocFormat("%s %s (%s)", kRuntimeSystem, KV_MAJOR_VERSION_TEXT, variant);
            if (description[i] == nullptr) continue;  // GCOVR_EXCL_BR_LINE: malloc refused
        }
        if (debugDescription[i] == nullptr) {
            debugDescription[i] =
                AllocFormat("%s %s (%s%s)", kRuntimeSystem, KV_MAJOR_VERSION_TEXT, variant, "D");
            if (debugDescription[i] == nullptr) continue;  // GCOVR_EXCL_BR_LINE: malloc refused
        }
        if (!full) continue;
        if (moduleName[i] == nullptr) {
            moduleName[i] = AllocFormat("%s%s%s%s%s", "TQ", KV_VERSION_TAG, "Tbs", "", variant);
            if (moduleName[i] == nullptr) continue;  // GCOVR_EXCL_BR_LINE: malloc refused
        }
        if (debugModuleName[i] == nullptr) {
            debugModuleName[i] =
                AllocFormat("%s%s%s%s%s%s", "TQ", KV_VERSION_TAG, "Tbs", "", variant, "D");
        }
    }
    selected = current;
}

const char* KvRuntimeVariantTable::Description(bool debug) const {
    if (selected == current && current == -1) return kRuntimeSystem;
    if (selected < 0 || selected >= kVariants) return nullptr;
    return debug ? debugDescription[selected] : description[selected];
}

const char* KvRuntimeVariantTable::ModuleName(bool debug) const {
    if (selected < 0 || selected >= kVariants) return nullptr;
    return debug ? debugModuleName[selected] : moduleName[selected];
}

KvRuntimeVariantTable& KvRuntimeVariantTable::Instance() {
    // Built on first use, which the start-up initialiser makes the library's
    // load. The object itself stays alive through exit, so a late log entry
    // still finds it; its strings are freed at exit.
    // GCOVR_EXCL_BR_START: the compiler's guards of the statics (a concurrent first call)
    static NoDestructor<KvRuntimeVariantTable> table;
    static const bool built = [] {
        table.get()->Build(false);
        std::atexit([] { table.get()->FreeStrings(); });
        return true;
    }();
    // GCOVR_EXCL_BR_STOP
    (void)built;
    return *table.get();
}

}  // namespace tq
