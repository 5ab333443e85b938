#include "system/identity.h"

#include <cstdio>

#include "kvplatform.h"
#include "kvversion.h"

namespace tq {

void FormatVersionLabel(char* buffer, size_t size) {
    std::snprintf(buffer, size, "(Tessaloquin %d.%d.%d.%d.%d)", KV_VERSION_1, KV_VERSION_2,
                  KV_VERSION_3, KV_VERSION_4, KV_VERSION_5);
}

}  // namespace tq

namespace {

constexpr unsigned kVersion[5] = {KV_VERSION_1, KV_VERSION_2, KV_VERSION_3, KV_VERSION_4,
                                  KV_VERSION_5};

// Description, one blank and the version text, rebuilt by every GETKVBASICSINFO.
char g_descriptionAndVersion[128];

}  // namespace

int CheckKvVersionNumber(unsigned number1, unsigned number2, unsigned number3, unsigned number4,
                         unsigned number5, int flags) {
    if (number1 != kVersion[0] || number2 != kVersion[1] || flags == 0) {
        return KV_ERR_INCOMPATIBLE_VERSION;
    }
    const unsigned bits = static_cast<unsigned>(flags);
    int result = 0;
    if ((bits & 2u) != 0 && number3 != kVersion[2] && (bits & 0x10000000u) == 0) {
        result = KV_ERR_INCOMPATIBLE_VERSION;
    }
    if ((bits & 4u) != 0 && number4 != kVersion[3] && (bits & 0x20000000u) == 0) {
        result = KV_ERR_INCOMPATIBLE_VERSION;
    }
    if ((bits & 8u) != 0 && number5 != kVersion[4] && (bits & 0x40000000u) == 0) {
        result = KV_ERR_INCOMPATIBLE_VERSION;
    }
    return result;
}

int KvCheckDll(int flags) {
    return CheckKvVersionNumber(kVersion[0], kVersion[1], kVersion[2], kVersion[3], kVersion[4],
                                static_cast<int>(static_cast<unsigned>(flags) | 3u));
}

const char* KvDescribeDll(unsigned* number1, unsigned* number2, unsigned* number3,
                          unsigned* number4, unsigned* number5, char const** moduleName,
                          char const** buildDateTime, char const** buildInfo,
                          unsigned* compilerVersion, char const** compilerText,
                          char const** extraText) {
    *number1 = kVersion[0];
    *number2 = kVersion[1];
    *number3 = kVersion[2];
    *number4 = kVersion[3];
    *number5 = kVersion[4];
    *moduleName = KV_MODULE_NAME;
    *buildDateTime = KV_BUILD_DATE_TIME;
    *buildInfo = "unknown";
    *compilerVersion = KV_COMPILER_NUMBER;
    *compilerText = KV_COMPILER_TEXT;
    *extraText = "";
    return tq::kLibraryDescription;
}

void GETKVBASICSINFO(char const** compilerText, unsigned* compilerVersion,
                     char const** descriptionAndVersion, char const** buildDate,
                     char const** moduleName) {
    if (compilerText != nullptr) *compilerText = KV_COMPILER_TEXT;
    if (compilerVersion != nullptr) *compilerVersion = KV_COMPILER_NUMBER;
    if (descriptionAndVersion != nullptr) {
        std::snprintf(g_descriptionAndVersion, sizeof g_descriptionAndVersion, "%s %s",
                      tq::kLibraryDescription, KV_VERSION_TEXT);
        *descriptionAndVersion = g_descriptionAndVersion;
    }
    if (buildDate != nullptr) *buildDate = KV_BUILD_DATE;
    if (moduleName != nullptr) *moduleName = KV_MODULE_NAME;
}

void ___KvBasicsContext(int) {}
