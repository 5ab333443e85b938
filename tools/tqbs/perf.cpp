// tqbs perf install, uninstall and cleanup: the installation of the statistics
// counters as a performance extension, and what a server left behind.
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "command.h"
#include "kvbasics.h"
#include "perf_host.h"

namespace tqbs {

namespace {

bool NoArguments(const char* tool, int argc, char** argv) {
    if (argc <= 1) return true;
    std::fprintf(stderr, "%s: unexpected argument '%s'\n", tool, argv[1]);
    return false;
}

// The directory of the library this tool runs with, where the installation
// looks for the counter texts.
std::string LibraryDirectory() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&RegisterStatistics), &info) == 0 ||
        info.dli_fname == nullptr) {
        return "the library's directory";  // GCOVR_EXCL_LINE: the function lies in a loaded library
    }
    std::string path = info.dli_fname;
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

}  // namespace

int RunPerfCleanup(int argc, char** argv) {
    constexpr const char* kTool = "tqbs perf cleanup";
    if (!NoArguments(kTool, argc, argv)) return kUsage;
    char removed[1024];
    const int count = KvRemoveStalePerfObjects(perf::kApplication, removed, sizeof removed);
    if (count < 0) {
        const perf::ProviderState provider = perf::QueryProvider();
        if (provider.kind == perf::ProviderState::kRunning) {
            std::fprintf(stderr,
                         "%s: a server of this account provides the counters: %s; "
                         "nothing removed\n",
                         kTool, perf::Describe(provider).c_str());
        } else {
            std::fprintf(stderr,
                         "%s: the provider guard of this account cannot be taken "
                         "(see 'tqbs perf status'); nothing removed\n",
                         kTool);
        }
        return kFailure;
    }
    if (count == 0) {
        std::printf("nothing to remove\n");
    } else {
        std::printf("removed:\n");
        for (const char* line = removed; *line != '\0';) {
            const char* end = std::strchr(line, '\n');
            const int length = static_cast<int>(end != nullptr ? end - line : std::strlen(line));
            std::printf("  %.*s\n", length, line);
            line += length + (end != nullptr ? 1 : 0);
        }
    }
    return kSuccess;
}

int RunPerfInstall(int argc, char** argv) {
    constexpr const char* kTool = "tqbs perf install";
    if (!NoArguments(kTool, argc, argv)) return kUsage;
    KvPerfExtension extension;
    if (KvQueryPerfExtension(perf::kApplication, &extension) == 0) {
        if (perf::HalfInstalled(extension)) {
            perf::ExplainHalfInstalled(kTool);
        } else {
            std::fprintf(stderr,
                         "%s: the counters are already installed (library %s); run 'tqbs perf "
                         "uninstall' first\n",
                         kTool, extension.library);
        }
        return kFailure;
    }
    if (RegisterStatistics() != 0) {
        std::fprintf(stderr,
                     "%s: the installation failed: TessaloquinPerformanceCounters.ini and its "
                     "symbol file TessaloquinPerformanceCounters.h must lie in %s, and the "
                     "registry store must be writable\n",
                     kTool, LibraryDirectory().c_str());
        if (KvQueryPerfExtension(perf::kApplication, &extension) == 0)
            perf::ExplainHalfInstalled(kTool);
        return kFailure;
    }
    if (KvQueryPerfExtension(perf::kApplication, &extension) != 0) {
        std::fprintf(stderr, "%s: installed, but the installation cannot be read back\n", kTool);
        return kFailure;
    }
    std::printf("installed the Tessaloquin counters\n");
    std::printf("  library:  %s\n", extension.library);
    std::printf("  names:    %u..%u, help texts %u..%u (%u items)\n", extension.firstCounter,
                extension.lastCounter, extension.firstHelp, extension.lastHelp,
                perf::Items(extension.firstCounter, extension.lastCounter));
    return kSuccess;
}

int RunPerfUninstall(int argc, char** argv) {
    constexpr const char* kTool = "tqbs perf uninstall";
    if (!NoArguments(kTool, argc, argv)) return kUsage;
    KvPerfExtension extension;
    if (KvQueryPerfExtension(perf::kApplication, &extension) != 0) {
        std::fprintf(stderr, "%s: the counters are not installed\n", kTool);
        return kFailure;
    }
    if (DeregisterStatistics() != 0) {
        if (perf::HalfInstalled(extension)) {
            perf::ExplainHalfInstalled(kTool);
        } else {
            std::fprintf(stderr, "%s: the removal failed (is the registry store writable?)\n",
                         kTool);
        }
        return kFailure;
    }
    std::printf("removed the Tessaloquin counters\n");
    const perf::ProviderState provider = perf::QueryProvider();
    if (provider.kind == perf::ProviderState::kRunning) {
        std::printf("note: a server still provides them: %s\n", perf::Describe(provider).c_str());
    }
    return kSuccess;
}

}  // namespace tqbs
