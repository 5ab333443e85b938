#include "platform/dynamic_library.h"

#include <dlfcn.h>
#include <limits.h>
#include <link.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace tq::platform {
namespace {

thread_local std::string t_lastError;
thread_local int t_lastErrorCode = 0;

void RememberError() {
    const char* error = dlerror();
    t_lastError = error != nullptr ? error : "unknown error";
}

// dlopen need not leave errno set. Its text ends with the system's text of
// the error that stopped it, when there was one: take the code from there,
// else count the file as found but not loadable.
int ErrorCodeOfText(const std::string& text) {
    static constexpr int kCodes[] = {ENOENT, EACCES, ENOTDIR, ELOOP,  ENAMETOOLONG,
                                     EISDIR, ENOMEM, EMFILE,  ENFILE, EIO};
    for (const int code : kCodes) {
        const std::string suffix = std::string(": ") + std::strerror(code);
        if (text.size() >= suffix.size() &&
            text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0) {
            return code;
        }
    }
    return ENOEXEC;
}

}  // namespace

void* LoadLibrary(const char* name) {
    if (name == nullptr) return nullptr;
    errno = 0;
    void* library = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const int code = errno;
        RememberError();
        t_lastErrorCode = code != 0 ? code : ErrorCodeOfText(t_lastError);
    }
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
    // dlclose fails only for a handle that is not open; callers pass those
    // that LoadLibrary gave them.
    if (dlclose(library) == 0) return true;  // GCOVR_EXCL_BR_LINE: see above
    RememberError();                         // GCOVR_EXCL_LINE: see above
    return false;                            // GCOVR_EXCL_LINE: see above
}

std::string LastLibraryError() {
    return t_lastError;
}

int LastLibraryErrorCode() {
    return t_lastErrorCode;
}

std::string LibraryPath(void* library) {
    if (library == nullptr) return {};
    link_map* map = nullptr;
    // GCOVR_EXCL_START: an open handle always has its link map and a name;
    // the program's own (empty) name never comes from LoadLibrary, which
    // refuses a null name, and dlopen refuses to load an executable.
    if (dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_name == nullptr) {
        return {};
    }
    if (map->l_name[0] == '\0') return {};
    // GCOVR_EXCL_STOP
    char resolved[PATH_MAX];
    if (realpath(map->l_name, resolved) != nullptr) return resolved;
    return map->l_name;
}

std::string FindInSearchPath(const char* file, const char* variable) {
    if (file == nullptr || *file == '\0' || variable == nullptr) return {};
    const char* list = std::getenv(variable);
    if (list == nullptr) return {};
    std::string_view rest = list;
    while (!rest.empty()) {
        const size_t end = std::min(rest.find(':'), rest.size());
        const std::string_view directory = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 1, rest.size()));
        if (directory.empty()) continue;
        std::string candidate(directory);
        if (candidate.back() != '/') candidate += '/';
        candidate += file;
        struct stat info {};
        if (stat(candidate.c_str(), &info) == 0 && !S_ISDIR(info.st_mode)) return candidate;
    }
    return {};
}

}  // namespace tq::platform
