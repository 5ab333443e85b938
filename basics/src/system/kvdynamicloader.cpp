// The module loader: finds the product's modules by name, loads and unloads
// them, resolves their entry points and reads their identity.
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "kvlog.h"
#include "kvmemory.h"
#include "kvplatform.h"
#include "platform/dynamic_library.h"
#include "platform/heap.h"
#include "platform/process.h"
#include "system/platform_services.h"
#include "util/bounded_format.h"

class KvModuleHandle {
public:
    void* module;  // the platform's handle of the loaded module
};

namespace {

constexpr size_t kTextBufferSize = 1024;
constexpr size_t kErrorTextSize = 512;
constexpr const char* kExtension = ".so";
constexpr const char* kUnknown = "<unknown>";

// Physical names and error texts; valid until the next call that fills it.
char g_text[kTextBufferSize];

tq::ConsoleWriter g_consoleWriter = nullptr;

struct LoadSettings {
    int16_t report = 0;
    char defaultPath[KV_CONFIG_STRING_SIZE] = {};
};

LoadSettings ReadSettings() {
    LoadSettings settings;
    KvConfig* config = DefaultConfig(KV_QUERY_CONFIG);
    if (config == nullptr) return settings;
    const char* debug[] = {"debug", nullptr};
    config->GetShort("loadModule", &settings.report, debug);
    const char* top[] = {nullptr};
    char* target = settings.defaultPath;
    if (config->GetString("defaultModulePath", &target, top) == 0 && target != nullptr &&
        target != settings.defaultPath) {
        // The configuration may hand back its own text instead of filling ours.
        std::strncpy(settings.defaultPath, target, sizeof settings.defaultPath - 1);
    }
    settings.defaultPath[sizeof settings.defaultPath - 1] = '\0';
    return settings;
}

// The file-name part of name: without its directory and its extension.
std::string FileNamePart(const char* name) {
    std::string file = name;
    const size_t slash = file.find_last_of('/');
    if (slash != std::string::npos) file.erase(0, slash + 1);
    const size_t dot = file.find_last_of('.');
    if (dot != std::string::npos) file.erase(dot);
    return file;
}

// This library's own directory with its trailing '/'; empty when unknown.
std::string OwnDirectory() {
    const std::string path = tq::platform::OwnModulePath();
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

void* Search(const char* name, const LoadSettings& settings) {
    const std::string file = std::string(name) + kExtension;
    void* module = nullptr;
    if (settings.defaultPath[0] != '\0') {
        module =
            tq::platform::LoadLibrary((std::string(settings.defaultPath) + "/" + file).c_str());
    }
    if (module == nullptr) {
        const std::string directory = OwnDirectory();
        if (!directory.empty()) {
            module =
                tq::platform::LoadLibrary((directory + FileNamePart(name) + kExtension).c_str());
        }
    }
    if (module == nullptr) {
        // dlopen's own search looks at a bare file name only; a name with a
        // directory part is opened as that path.
        module = tq::platform::LoadLibrary(file.c_str());
    }
    if (module == nullptr) {
        const std::string found = tq::platform::FindInSearchPath(file.c_str(), "PATH");
        if (!found.empty()) module = tq::platform::LoadLibrary(found.c_str());
    }
    return module;
}

void ToConsole(const char* text) {
    smp_io* console = GetConsole();
    if (console != nullptr && g_consoleWriter != nullptr) g_consoleWriter(console, text);
}

void ReportLoaded(KvModuleHandle* handle) {
    const char* physical = KvDynamicLoader::GetPhysicalModuleName(handle);
    KvMessage()->Message(nullptr, 0, "Using module: %s", physical);
    ToConsole("Using module: ");
    ToConsole(physical);
    ToConsole("\n");
}

void ReportFailure(const char* name) {
    const char* path = std::getenv("PATH");
    char text[kTextBufferSize];
    tq::BoundedFormat(text, sizeof text,
                      "Loading of module '%s' failed.\nError code : %u\nPath : '%.1024s'\n", name,
                      static_cast<uint32_t>(tq::platform::LastLibraryErrorCode()),
                      path != nullptr ? path : "");
    // Passed as an argument: a '%' in the name or in PATH is not read again.
    KvMessage()->Message(nullptr, 0, "%s", text);
    ToConsole(text);
}

using DescribeFunction = const char* (*)(unsigned*, unsigned*, unsigned*, unsigned*, unsigned*,
                                         char const**, char const**, char const**, unsigned*,
                                         char const**, char const**);

void CopyText(char* target, const char* text) {
    if (target != nullptr && text != nullptr) std::strcpy(target, text);
}

}  // namespace

tq::ConsoleWriter tq::SetConsoleWriter(ConsoleWriter writer) {
    ConsoleWriter previous = g_consoleWriter;
    g_consoleWriter = writer;
    return previous;
}

int KvDynamicLoader::LoadModule(char const* name, int, KvModuleHandle*& handle) {
    handle = nullptr;
    if (name == nullptr) return ERR_KV_COULD_NOT_LOAD_MODULE;
    LoadSettings settings;
    void* module = nullptr;
    try {
        settings = ReadSettings();
        module = Search(name, settings);
    } catch (const std::bad_alloc&) {
        module = nullptr;
    }
    if (module == nullptr) {
        if (settings.report != 0) ReportFailure(name);
        return ERR_KV_COULD_NOT_LOAD_MODULE;
    }

    void* block = tq::platform::HeapAllocate(sizeof(KvModuleHandle));
    if (block == nullptr) {
        // Unloaded first: the memory handler may not return.
        tq::platform::FreeLibrary(module);
        KvCallMemoryHandler(sizeof(KvModuleHandle));
        return ERR_KV_COULD_NOT_LOAD_MODULE;
    }
    handle = new (block) KvModuleHandle{module};
    if (settings.report != 0) ReportLoaded(handle);
    return 0;
}

int KvDynamicLoader::UnloadModule(KvModuleHandle*& handle) {
    if (handle == nullptr) return ERR_KV_MODULE_HANDLE_INVALID;
    tq::platform::FreeLibrary(handle->module);
    handle->~KvModuleHandle();
    tq::platform::HeapFree(handle);
    handle = nullptr;
    return 0;
}

int KvDynamicLoader::GetEntryPoint(char const* symbol, KvModuleHandle* handle, void*& entry) {
    entry = nullptr;
    if (handle == nullptr) return ERR_KV_MODULE_HANDLE_INVALID;
    entry = tq::platform::LibrarySymbol(handle->module, symbol);
    return entry != nullptr ? 0 : ERR_KV_COULD_NOT_GET_ENTRY;
}

char const* KvDynamicLoader::GetErrText() {
    try {
        const std::string error = tq::platform::LastLibraryError();
        tq::BoundedFormat(g_text, kErrorTextSize, "%s", error.c_str());
    } catch (const std::bad_alloc&) {
        g_text[0] = '\0';
    }
    return g_text;
}

char const* KvDynamicLoader::GetPhysicalModuleName(KvModuleHandle* handle) {
    std::string path;
    try {
        if (handle != nullptr) path = tq::platform::LibraryPath(handle->module);
    } catch (const std::bad_alloc&) {
        path.clear();
    }
    tq::BoundedFormat(g_text, sizeof g_text, "%s", path.empty() ? kUnknown : path.c_str());
    return g_text;
}

int KvGetDescription(char const* name, char* physicalName, unsigned& number1, unsigned& number2,
                     unsigned& number3, unsigned& number4, unsigned& number5, char* description,
                     char* moduleName, char* buildDateTime, char* buildInfo, char* compilerText,
                     char* extraText, int& compilerVersion) {
    KvModuleHandle* handle = nullptr;
    const int loaded = KvDynamicLoader::LoadModule(name, 0, handle);
    if (loaded < 0) return loaded;
    CopyText(physicalName, KvDynamicLoader::GetPhysicalModuleName(handle));

    void* entry = nullptr;
    int result = KvDynamicLoader::GetEntryPoint("KvDescribeDll", handle, entry);
    if (result == 0) {
        const char* module = nullptr;
        const char* built = nullptr;
        const char* info = nullptr;
        const char* compiler = nullptr;
        const char* extra = nullptr;
        unsigned version = 0;
        const auto describe = reinterpret_cast<DescribeFunction>(entry);
        const char* text = describe(&number1, &number2, &number3, &number4, &number5, &module,
                                    &built, &info, &version, &compiler, &extra);
        compilerVersion = static_cast<int>(version);
        CopyText(moduleName, module);
        CopyText(buildDateTime, built);
        CopyText(description, text);
        CopyText(compilerText, compiler);
        CopyText(extraText, extra);
        CopyText(buildInfo, info);
    }
    KvDynamicLoader::UnloadModule(handle);
    return result;
}
