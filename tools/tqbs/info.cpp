// tqbs info and tqbs --version: the identity of the basics library.
#include <cstdio>
#include <cstring>
#include <string>

#include "command.h"
#include "kvbasics.h"
#include "perf_json.h"

namespace tqbs {

namespace {

// The library's identity, as its KvDescribeDll reports it.
struct Identity {
    unsigned version[5] = {};
    const char* description = nullptr;
    const char* moduleName = nullptr;
    const char* buildDateTime = nullptr;
    const char* buildInfo = nullptr;
    const char* compilerText = nullptr;
    const char* extraText = nullptr;
    unsigned compilerVersion = 0;
};

Identity Describe() {
    Identity id;
    id.description = KvDescribeDll(&id.version[0], &id.version[1], &id.version[2], &id.version[3],
                                   &id.version[4], &id.moduleName, &id.buildDateTime, &id.buildInfo,
                                   &id.compilerVersion, &id.compilerText, &id.extraText);
    return id;
}

// text as a JSON string; null as an empty one.
std::string Json(const char* text) {
    return perf::JsonString(text != nullptr ? text : "");
}

void PrintJson(const Identity& id) {
    std::printf(
        "{\"module\":%s,\"description\":%s,\"version\":[%u,%u,%u,%u,%u],\"built\":%s,"
        "\"compiler\":%s,\"compiler_version\":%u,\"sources\":%s}\n",
        Json(id.moduleName).c_str(), Json(id.description).c_str(), id.version[0], id.version[1],
        id.version[2], id.version[3], id.version[4], Json(id.buildDateTime).c_str(),
        Json(id.compilerText).c_str(), id.compilerVersion, Json(KV_BUILD_SOURCE).c_str());
}

}  // namespace

int PrintVersion() {
    const Identity id = Describe();
    // The tool's own numbers are those of the headers it was built with.
    std::printf("tqbs %d.%d.%d.%d.%d\n", KV_VERSION_1, KV_VERSION_2, KV_VERSION_3, KV_VERSION_4,
                KV_VERSION_5);
    std::printf("library %s %u.%u.%u.%u.%u (%s, built %s)\n", id.moduleName, id.version[0],
                id.version[1], id.version[2], id.version[3], id.version[4], id.description,
                id.buildDateTime);
    return kSuccess;
}

int RunInfo(int argc, char** argv) {
    const bool json = argc == 2 && std::strcmp(argv[1], "--json") == 0;
    if (argc > 1 && !json) {
        std::fprintf(stderr, "tqbs info: unexpected argument '%s'\n", argv[argc - 1]);
        return kUsage;
    }
    const Identity id = Describe();
    if (json) {
        PrintJson(id);
        return kSuccess;
    }
    DllNameClass ownName("Tbs");
    std::printf("module:       %s\n", id.moduleName);
    std::printf("file:         %s.so\n", ownName.GetDllName());
    std::printf("description:  %s\n", id.description);
    std::printf("version:      %u.%u.%u.%u.%u\n", id.version[0], id.version[1], id.version[2],
                id.version[3], id.version[4]);
    std::printf("built:        %s\n", id.buildDateTime);
    std::printf("build info:   %s\n", id.buildInfo);
    std::printf("sources:      %s\n", KV_BUILD_SOURCE);  // git describe of the tool's build
    std::printf("compiler:     %s (%u)\n", id.compilerText, id.compilerVersion);
    std::printf("self-check:   %s\n", KvCheckDll(1) == 0 ? "version consistent" : "MISMATCH");
    return kSuccess;
}

}  // namespace tqbs
