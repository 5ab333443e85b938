// Uses the installed basics library: checks that the module it runs with is
// the one it was built against and prints what the library says of itself.
#include <cstdio>
#include <cstring>

#include "kvbasics.h"

int main() {
    if (KvCheckDll(1) != 0 || CheckKvVersionNumber(KV_VERSION_1, KV_VERSION_2, KV_VERSION_3,
                                                   KV_VERSION_4, KV_VERSION_5, 0x0E) != 0) {
        std::fprintf(stderr, "consumer: the library's version does not match its headers\n");
        return 1;
    }
    const char* description = nullptr;
    const char* moduleName = nullptr;
    GETKVBASICSINFO(nullptr, nullptr, &description, nullptr, &moduleName);
    DllNameClass expected("Tbs");
    if (std::strcmp(moduleName, expected.GetDllName()) != 0) {
        std::fprintf(stderr, "consumer: unexpected module %s\n", moduleName);
        return 1;
    }
    std::printf("consumer: %s(%s)\n", description, moduleName);
    return 0;
}
