// tqbs module: where the module loader finds a module, and its identity.
#include <cstdio>
#include <cstring>
#include <string>

#include "command.h"
#include "kvbasics.h"

namespace tqbs {

namespace {

constexpr size_t kTextSize = 4096;

int CannotLoad(const char* name) {
    std::fprintf(stderr, "tqbs module: cannot load '%s': %s\n", name,
                 KvDynamicLoader::GetErrText());
    return kFailure;
}

int Path(const char* name) {
    KvModuleHandle* handle = nullptr;
    if (KvDynamicLoader::LoadModule(name, 0, handle) != 0) return CannotLoad(name);
    std::printf("%s\n", KvDynamicLoader::GetPhysicalModuleName(handle));
    KvDynamicLoader::UnloadModule(handle);
    return kSuccess;
}

int Describe(const char* name) {
    // Room for the module's texts; unset ones stay empty.
    std::string path(kTextSize, '\0'), description(kTextSize, '\0'), moduleName(kTextSize, '\0'),
        built(kTextSize, '\0'), info(kTextSize, '\0'), compiler(kTextSize, '\0'),
        extra(kTextSize, '\0');
    unsigned version[5] = {};
    int compilerVersion = 0;
    const int result =
        KvGetDescription(name, path.data(), version[0], version[1], version[2], version[3],
                         version[4], description.data(), moduleName.data(), built.data(),
                         info.data(), compiler.data(), extra.data(), compilerVersion);
    if (result == ERR_KV_COULD_NOT_LOAD_MODULE) return CannotLoad(name);
    if (result != 0) {
        std::fprintf(stderr, "tqbs module: %s does not describe itself (no KvDescribeDll)\n",
                     path.c_str());
        return kFailure;
    }
    std::printf("path:         %s\n", path.c_str());
    std::printf("module:       %s\n", moduleName.c_str());
    std::printf("description:  %s\n", description.c_str());
    std::printf("version:      %u.%u.%u.%u.%u\n", version[0], version[1], version[2], version[3],
                version[4]);
    std::printf("built:        %s\n", built.c_str());
    std::printf("build info:   %s\n", info.c_str());
    std::printf("compiler:     %s (%d)\n", compiler.c_str(), compilerVersion);
    if (extra[0] != '\0') std::printf("extra:        %s\n", extra.c_str());
    return kSuccess;
}

}  // namespace

int RunModule(int argc, char** argv) {
    KvKeyFileConfig config;
    int next = 1;
    if (argc < 2) {
        std::fputs("tqbs module: give describe or path and a module name\n", stderr);
        return kUsage;
    }
    const char* action = argv[next++];
    if (std::strcmp(action, "describe") != 0 && std::strcmp(action, "path") != 0) {
        std::fprintf(stderr, "tqbs module: unknown action '%s'\n", action);
        return kUsage;
    }
    if (next < argc && std::strcmp(argv[next], "--config") == 0) {
        if (next + 1 >= argc) {
            std::fputs("tqbs module: --config needs a file\n", stderr);
            return kUsage;
        }
        // LoadFile gives an errno or the number of a bad line.
        if (config.LoadFile(argv[next + 1]) != 0) {
            std::fprintf(stderr, "tqbs module: cannot read the key file '%s'\n", argv[next + 1]);
            return kUsage;
        }
        DefaultConfig(&config);
        next += 2;
    }
    if (argc - next != 1) {
        std::fprintf(stderr, "tqbs module %s: give one module name\n", action);
        return kUsage;
    }
    const int result = std::strcmp(action, "path") == 0 ? Path(argv[next]) : Describe(argv[next]);
    DefaultConfig(nullptr);
    return result;
}

}  // namespace tqbs
