// tqbs module: where the module loader finds a module, and its identity.
#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "command.h"
#include "kvbasics.h"

namespace tqbs {

namespace {

constexpr size_t kTextSize = 4096;

// Why the file at path does not load ("" when it loads now).
std::string TryLoad(const std::string& path) {
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module != nullptr) {
        dlclose(module);
        return "";
    }
    const char* error = dlerror();
    return error != nullptr ? error : "not loadable";
}

void Report(int step, const char* place, const std::string& why) {
    std::fprintf(stderr, "  %d. %s: %s\n", step, place,
                 why.empty() ? "loads now (it did not when the loader tried)" : why.c_str());
}

// The directory of the basics library in use, with its '/'; empty when unknown.
std::string LibraryDirectory() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&KvDescribeDll), &info) == 0 || info.dli_fname == nullptr) {
        return {};  // GCOVR_EXCL_LINE: the function lies in a loaded library
    }
    const std::string path = info.dli_fname;
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The first file NAME.so along PATH, as the loader picks it; empty when none.
std::string FindInPath(const std::string& file) {
    for (const char* at = std::getenv("PATH"); at != nullptr && *at != '\0';) {
        const char* end = std::strchr(at, ':');
        std::string candidate(at, end != nullptr ? static_cast<size_t>(end - at) : std::strlen(at));
        at = end != nullptr ? end + 1 : "";
        if (candidate.empty()) continue;
        if (candidate.back() != '/') candidate += '/';
        candidate += file;
        struct stat info {};
        if (stat(candidate.c_str(), &info) == 0 && !S_ISDIR(info.st_mode)) return candidate;
    }
    return {};
}

// The module did not load: goes through the loader's search again and tells
// why each place failed.
int CannotLoad(const char* name) {
    std::fprintf(stderr, "tqbs module: cannot load '%s'; searched:\n", name);
    const std::string file = std::string(name) + ".so";
    char buffer[KV_CONFIG_STRING_SIZE] = {};
    char* directory = buffer;
    const char* top[] = {nullptr};
    KvConfig* config = DefaultConfig(KV_QUERY_CONFIG);
    if (config == nullptr || config->GetString("defaultModulePath", &directory, top) != 0 ||
        directory == nullptr || directory[0] == '\0') {
        Report(1, "defaultModulePath", "not set");
    } else {
        Report(1, "defaultModulePath", TryLoad(std::string(directory) + "/" + file));
    }
    const std::string own = LibraryDirectory();
    std::string part = name;  // the file-name part: no directory, no extension
    part.erase(0, part.find_last_of('/') + 1);
    part.erase(std::min(part.find_last_of('.'), part.size()));
    Report(2, "the basics library's directory",
           own.empty() ? "the library's own path is unknown" : TryLoad(own + part + ".so"));
    Report(3, "the dynamic linker's search", TryLoad(file));
    const std::string found = FindInPath(file);
    std::string why = "not set";
    if (!found.empty()) {
        why = TryLoad(found);
    } else if (std::getenv("PATH") != nullptr) {
        why = std::string("no ").append(file).append(" in its directories");
    }
    Report(4, "PATH", why);
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
