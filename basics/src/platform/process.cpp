#include "platform/process.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cstdlib>

namespace tq::platform {

uint32_t CurrentProcessId() {
    return static_cast<uint32_t>(getpid());
}

std::string ExecutablePath() {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};  // GCOVR_EXCL_BR_LINE: the process may always read its own link
    return std::string(path, static_cast<size_t>(n));
}

std::string OwnModulePath() {
    Dl_info info{};
    // GCOVR_EXCL_START: this very function lies in a loaded object with a name
    if (dladdr(reinterpret_cast<void*>(&OwnModulePath), &info) == 0 || info.dli_fname == nullptr) {
        return {};
    }
    // GCOVR_EXCL_STOP
    // dladdr reports the name as it was loaded; make it absolute.
    char resolved[PATH_MAX];
    if (realpath(info.dli_fname, resolved) != nullptr) return resolved;
    return info.dli_fname;
}

}  // namespace tq::platform
