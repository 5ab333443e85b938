// tqbs info: the identity of the basics library.
#include <cstdio>

#include "command.h"
#include "kvbasics.h"

namespace tqbs {

int RunInfo(int argc, char** argv) {
    if (argc > 1) {
        std::fprintf(stderr, "tqbs info: unexpected argument '%s'\n", argv[1]);
        return kUsage;
    }
    unsigned version[5];
    const char* moduleName = nullptr;
    const char* buildDateTime = nullptr;
    const char* buildInfo = nullptr;
    const char* compilerText = nullptr;
    const char* extraText = nullptr;
    unsigned compilerVersion = 0;
    const char* description =
        KvDescribeDll(&version[0], &version[1], &version[2], &version[3], &version[4], &moduleName,
                      &buildDateTime, &buildInfo, &compilerVersion, &compilerText, &extraText);
    DllNameClass ownName("Tbs");
    std::printf("module:       %s\n", moduleName);
    std::printf("file:         %s.so\n", ownName.GetDllName());
    std::printf("description:  %s\n", description);
    std::printf("version:      %u.%u.%u.%u.%u\n", version[0], version[1], version[2], version[3],
                version[4]);
    std::printf("built:        %s\n", buildDateTime);
    std::printf("build info:   %s\n", buildInfo);
    std::printf("compiler:     %s (%u)\n", compilerText, compilerVersion);
    std::printf("self-check:   %s\n", KvCheckDll(1) == 0 ? "version consistent" : "MISMATCH");
    return kSuccess;
}

}  // namespace tqbs
