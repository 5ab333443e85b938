// tqbs perf install, uninstall and status: the installation of the statistics
// counters as a performance extension.
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

constexpr const char* kKeyText = "SYSTEM\\CurrentControlSet\\Services\\Tessaloquin\\Performance";

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
        return "the library's directory";
    }
    std::string path = info.dli_fname;
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

uint32_t Items(uint32_t first, uint32_t last) {
    return last >= first ? (last - first) / 2 + 1 : 0;
}

void ExplainHalfInstalled(const char* tool) {
    std::fprintf(stderr,
                 "%s: the key %s is there without counter texts: an earlier installation "
                 "stopped half-way.\n"
                 "%s: remove that key from the registry store ($TQ_REGISTRY_ROOT, by default "
                 "~/.config/tessaloquin/registry) and install again.\n",
                 tool, kKeyText, tool);
}

bool HalfInstalled(const KvPerfExtension& extension) {
    return extension.library[0] == '\0' || extension.firstCounter == 0;
}

// The block a monitor reads, whether it is live or stale, and the blocks it
// refuses.
void PrintBlocks(const perf::ProviderState& provider) {
    const KvPerfObjects& objects = provider.objects;
    const char* state = objects.block == 0                               ? ""
                        : objects.blockOwn == 0                          ? " (another account's)"
                        : provider.kind == perf::ProviderState::kRunning ? " (live)"
                        : provider.kind == perf::ProviderState::kNone
                            ? " (stale: no server provides it; 'tqbs perf cleanup' removes it)"
                            : "";
    std::printf("  block:        %s%s\n", objects.block == 0 ? "none" : objects.blockText, state);
    for (const char* line = objects.refused; *line != '\0';) {
        const char* end = std::strchr(line, '\n');
        const int length = static_cast<int>(end != nullptr ? end - line : std::strlen(line));
        std::printf("  refused:      %.*s (others may write it, or it is not this account's)\n",
                    length, line);
        line += length + (end != nullptr ? 1 : 0);
    }
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
        if (HalfInstalled(extension)) {
            ExplainHalfInstalled(kTool);
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
        if (KvQueryPerfExtension(perf::kApplication, &extension) == 0) ExplainHalfInstalled(kTool);
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
                Items(extension.firstCounter, extension.lastCounter));
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
        if (HalfInstalled(extension)) {
            ExplainHalfInstalled(kTool);
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

int RunPerfStatus(int argc, char** argv) {
    constexpr const char* kTool = "tqbs perf status";
    if (!NoArguments(kTool, argc, argv)) return kUsage;
    KvPerfExtension extension;
    if (KvQueryPerfExtension(perf::kApplication, &extension) != 0) {
        std::printf("Tessaloquin counters: not installed (run 'tqbs perf install')\n");
        return kFailure;
    }
    if (HalfInstalled(extension)) {
        std::printf("Tessaloquin counters: installed half-way, not usable\n");
        ExplainHalfInstalled(kTool);
        return kFailure;
    }
    const uint32_t names = Items(extension.firstCounter, extension.lastCounter);
    const uint32_t helps = Items(extension.firstHelp, extension.lastHelp);
    std::printf("Tessaloquin counters: installed\n");
    std::printf("  key:          %s\n", kKeyText);
    std::printf("  library:      %s\n", extension.library);
    std::printf("  entry points: %s, %s, %s\n", extension.open, extension.collect, extension.close);
    std::printf("  names:        %u..%u (%u items)\n", extension.firstCounter,
                extension.lastCounter, names);
    std::printf("  help texts:   %u..%u (%u items)%s\n", extension.firstHelp, extension.lastHelp,
                helps, names == helps ? "" : "  INCONSISTENT with the names");
    std::printf("  disabled:     %s\n", extension.disabled != 0 ? "yes" : "no");

    const perf::ProviderState provider = perf::QueryProvider();
    std::printf("  provider:     %s\n", perf::Describe(provider).c_str());
    PrintBlocks(provider);

    perf::Host host;
    std::string error;
    if (!host.Load(extension, &error)) {
        std::printf("  collection:   impossible: %s\n", error.c_str());
        return kSuccess;
    }
    host.Open();
    std::vector<perf::ObjectSample> objects;
    if (!host.Collect(&objects, &error)) {
        std::printf("  collection:   failed: %s\n", error.c_str());
    } else if (objects.empty()) {
        std::printf("  collection:   no data (%s)\n",
                    extension.disabled != 0 ? "the counters are disabled"
                                            : "no server has provided the counters yet");
    } else {
        size_t counters = 0;
        for (const auto& object : objects)
            counters += object.counters.size();
        std::printf("  collection:   %zu object(s), %zu counters, %u bytes%s\n", objects.size(),
                    counters, host.LastBytes(),
                    provider.kind == perf::ProviderState::kNone
                        ? " (the values a server left when it ended)"
                        : "");
    }
    host.Close();
    return kSuccess;
}

}  // namespace tqbs
