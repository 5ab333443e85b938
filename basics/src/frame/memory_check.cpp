// The memory-check hook: a function of a configured module, probed once.
#include <cstring>

#include "frame/memory_check.h"
#include "kvmemory.h"
#include "platform/debug_output.h"
#include "platform/dynamic_library.h"

namespace {

using MemoryCheckFunction = int (*)(void*);

int g_probed = 0;
MemoryCheckFunction g_checkFunction = nullptr;

// The C runtime of this platform stands where the home platform names its own.
constexpr const char* kDefaultLibrary = "libc.so.6";
constexpr const char* kDefaultFunction = "KivoMemoryCheck";

void LookUpString(KvConfig* config, const char* name, const char** sections, char* buffer,
                  const char* fallback) {
    char* target = buffer;
    if (config->GetString(name, &target, sections) != 0) {
        std::strcpy(buffer, fallback);
    } else if (target != buffer) {
        // The configuration may hand back its own text instead of filling ours.
        std::strncpy(buffer, target != nullptr ? target : "", KV_CONFIG_STRING_SIZE - 1);
        buffer[KV_CONFIG_STRING_SIZE - 1] = '\0';
    }
    buffer[KV_CONFIG_STRING_SIZE - 1] = '\0';
}

void Probe(KvConfig* config) {
    g_probed = 1;  // first, so that a failed probe is not repeated
    if (config == nullptr) return;
    g_checkFunction = nullptr;
    int16_t enabled = 0;
    const char* debug[] = {"debug", nullptr};
    if (config->GetShort("memory", &enabled, debug) != 0 || enabled == 0) return;

    const char* debugMemory[] = {"debug", "memory", nullptr};
    char library[KV_CONFIG_STRING_SIZE] = {};
    char function[KV_CONFIG_STRING_SIZE] = {};
    LookUpString(config, "library", debugMemory, library, kDefaultLibrary);
    LookUpString(config, "function", debugMemory, function, kDefaultFunction);

    void* module = tq::platform::LoadLibrary(library);
    if (module == nullptr) {
        tq::platform::DebugOutput("unable to load the memory checking dll");
        return;
    }
    // The module stays loaded for the life of the process.
    g_checkFunction =
        reinterpret_cast<MemoryCheckFunction>(tq::platform::LibrarySymbol(module, function));
    tq::platform::DebugOutput(g_checkFunction != nullptr
                                  ? "memory checking enabled"
                                  : "unable to get the memory check function");
}

}  // namespace

int KivoCheckMemory(void* argument) {
    if (g_probed == 0) Probe(DefaultConfig(KV_QUERY_CONFIG));
    return g_checkFunction != nullptr ? g_checkFunction(argument) : -1;
}

void tq::ResetMemoryCheckProbe() {
    g_probed = 0;
    g_checkFunction = nullptr;
}
