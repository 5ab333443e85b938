#include "platform/dynamic_library.h"

#include <dlfcn.h>

namespace tq::platform {
namespace {

thread_local std::string t_lastError;

void RememberError() {
    const char* error = dlerror();
    t_lastError = error != nullptr ? error : "unknown error";
}

}  // namespace

void* LoadLibrary(const char* name) {
    if (name == nullptr) return nullptr;
    void* library = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) RememberError();
    return library;
}

void* LibrarySymbol(void* library, const char* name) {
    if (library == nullptr || name == nullptr) return nullptr;
    dlerror();
    void* symbol = dlsym(library, name);
    if (symbol == nullptr) RememberError();
    return symbol;
}

bool FreeLibrary(void* library) {
    if (library == nullptr) return false;
    if (dlclose(library) == 0) return true;
    RememberError();
    return false;
}

std::string LastLibraryError() {
    return t_lastError;
}

}  // namespace tq::platform
