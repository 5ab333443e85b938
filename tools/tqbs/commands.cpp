#include <cstdio>
#include <cstring>

#include "command.h"

namespace tqbs {

namespace {

const Command kPerfCommands[] = {
    {"install", "install the statistics counters with the performance host",
     "usage: tqbs perf install\n"
     "\n"
     "Installs the Tessaloquin statistics as a performance extension: records this\n"
     "library and its entry points PrfData_Open, PrfData_Collect and PrfData_Close\n"
     "under SYSTEM\\CurrentControlSet\\Services\\Tessaloquin\\Performance in the registry\n"
     "store, and loads the counter texts of TessaloquinPerformanceCounters.ini (beside\n"
     "the library), which allots the counters their name and help indexes.\n"
     "\n"
     "The registry store lies in $TQ_REGISTRY_ROOT, by default in\n"
     "$XDG_CONFIG_HOME/tessaloquin/registry (~/.config/tessaloquin/registry).\n"
     "\n"
     "Exit codes: 0 installed, 1 already installed or the installation failed,\n"
     "2 usage error.\n",
     RunPerfInstall, nullptr},
    {"uninstall", "remove the statistics counters and their texts",
     "usage: tqbs perf uninstall\n"
     "\n"
     "Removes the counter texts and the performance key that 'tqbs perf install'\n"
     "wrote. A server that provides the counters keeps running; its shared block\n"
     "is no longer shown by monitors.\n"
     "\n"
     "Exit codes: 0 removed, 1 not installed or the removal failed, 2 usage error.\n",
     RunPerfUninstall, nullptr},
    {"status", "show the installation and whether a server provides the counters",
     "usage: tqbs perf status\n"
     "\n"
     "Shows what is installed: the library, its three entry points and whether\n"
     "they resolve, the name and help index ranges, the disabled flag; then whether\n"
     "a server provides the counters (the process holding the provider guard), the\n"
     "block a monitor reads (live, stale: left by a server that ended, or another\n"
     "account's), the blocks it refuses because others may write them, and what one\n"
     "collection returns.\n"
     "\n"
     "Exit codes: 0 installed, 1 not installed, 2 usage error.\n",
     RunPerfStatus, nullptr},
    {"cleanup", "remove this account's stale shared block and guard",
     "usage: tqbs perf cleanup\n"
     "\n"
     "Removes the shared blocks and the provider guard of this account that a server\n"
     "which ended left behind in /dev/shm. Nothing is removed while a server of this\n"
     "account provides the counters, nor anything of another account. A monitor that\n"
     "reads a removed block keeps its last values and turns to the next server's\n"
     "block.\n"
     "\n"
     "Exit codes: 0 removed (or nothing to remove), 1 a server provides the counters,\n"
     "2 usage error.\n",
     RunPerfCleanup, nullptr},
    {"monitor", "show the counters live, as the performance host",
     "usage: tqbs perf monitor [--interval S] [--count N] [--prometheus FILE]\n"
     "\n"
     "Acts as the performance host: loads the library named by the installation,\n"
     "resolves its Open, Collect and Close entry points by their installed names,\n"
     "and every interval collects the counters and shows each by its installed\n"
     "name: raw counts as they stand, rate counters (the \"/sec\" ones) per second\n"
     "over the interval.\n"
     "\n"
     "On a terminal a table is redrawn in place; otherwise one line per sample.\n"
     "While no server provides the counters, \"no provider\" is shown and sampling\n"
     "goes on, so a monitor may be started before the server.\n"
     "\n"
     "Options:\n"
     "  --interval S       seconds between samples (default 1; at least 0.1)\n"
     "  --count N          stop after N samples (default: until interrupted)\n"
     "  --prometheus FILE  after every sample, write the counters in the Prometheus\n"
     "                     text format to FILE (a private temporary file beside it,\n"
     "                     renamed over it: a link at FILE is replaced), for\n"
     "                     node_exporter's textfile collector: raw counts as gauges,\n"
     "                     rate counters as counters of their totals; metric names\n"
     "                     are tessaloquin_ and the counter name in snake case\n"
     "                     (rate counters without \"/sec\", ending in _total), and\n"
     "                     tessaloquin_up is 1 while a server provides the counters.\n"
     "\n"
     "Exit codes: 0 done (also when stopped by SIGINT or SIGTERM), 1 not installed,\n"
     "disabled, the library or its entry points cannot be loaded, or FILE cannot be\n"
     "written, 2 usage error.\n",
     RunPerfMonitor, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

const Command kCommands[] = {
    {"info", "show the identity of the basics library",
     "usage: tqbs info\n"
     "\n"
     "Shows the library's module name, description, five version numbers, build date\n"
     "and compiler, as the library itself reports them.\n"
     "\n"
     "Exit codes: 0 success, 2 usage error.\n",
     RunInfo, nullptr},
    {"error", "show the text of result codes, or search the error catalogue",
     "usage: tqbs error CODE...\n"
     "       tqbs error --search WORD...\n"
     "\n"
     "With codes (decimal, e.g. -2002), prints each code with its text from the\n"
     "error catalogue, one line per code. A code without an entry is reported as\n"
     "such, with the text the library shows for it (\"count\" for 1 to 999, else\n"
     "\"unknown error\"), and the exit code is 1. Code 0 is \"ok\".\n"
     "\n"
     "With --search, lists every entry whose text contains all the words, ignoring\n"
     "case; a quoted argument with blanks is matched as one phrase. The exit code\n"
     "is 1 when nothing matches.\n"
     "\n"
     "Exit codes: 0 success, 1 unknown code or no match, 2 usage error.\n",
     RunError, nullptr},
    {"registry", "read, write or delete a value below the product's registry key",
     "usage: tqbs registry get KEY... NAME\n"
     "       tqbs registry set KEY... NAME VALUE\n"
     "       tqbs registry delete KEY... NAME\n"
     "\n"
     "Works on the string values below the product key\n"
     "SOFTWARE\\Wow6432Node\\Quelmar\\Tessaloquin. The KEY arguments name the subkeys\n"
     "in order and NAME the value; without KEY the value lies in the product key\n"
     "itself. The key path (product key and subkeys, joined by \\) may have at most\n"
     "259 characters.\n"
     "\n"
     "  get     prints the value's bytes and a newline\n"
     "  set     stores VALUE (without a terminating zero), creating missing keys\n"
     "  delete  deletes the value; keys are never deleted\n"
     "\n"
     "The registry is a directory tree: $TQ_REGISTRY_ROOT, else\n"
     "$XDG_CONFIG_HOME/tessaloquin/registry, else ~/.config/tessaloquin/registry.\n"
     "\n"
     "Exit codes: 0 success, 1 no such value or the store failed, 2 usage error\n"
     "(a key path that is too long included).\n",
     RunRegistry, nullptr},
    {"module", "find one of the product's modules and show its identity",
     "usage: tqbs module describe [--config FILE] NAME\n"
     "       tqbs module path [--config FILE] NAME\n"
     "\n"
     "Looks for the module file NAME.so as the library's module loader does:\n"
     "  1. in the directory that \"defaultModulePath\" of the configuration names,\n"
     "  2. in the basics library's own directory (the file-name part of NAME only),\n"
     "  3. by the standard search of the dynamic linker,\n"
     "  4. in the directories of PATH.\n"
     "\n"
     "  describe  prints the module's path and the identity it reports through its\n"
     "            KvDescribeDll: module name, description, five version numbers,\n"
     "            build date and time, build information and compiler.\n"
     "            'tqbs module describe TQ110Tbs90x64' describes the library itself.\n"
     "  path      prints the path of the file the search loads.\n"
     "\n"
     "--config FILE reads the configuration (\"defaultModulePath\" at the top of the\n"
     "file, before any [section]) from a key file.\n"
     "\n"
     "Exit codes: 0 success, 1 the module cannot be loaded or does not describe\n"
     "itself, 2 usage error.\n",
     RunModule, nullptr},
    {"perf", "install, inspect and monitor the statistics counters",
     "usage: tqbs perf install\n"
     "       tqbs perf uninstall\n"
     "       tqbs perf status\n"
     "       tqbs perf cleanup\n"
     "       tqbs perf monitor [--interval S] [--count N] [--prometheus FILE]\n"
     "\n"
     "The statistics counters of a Tessaloquin server, as the platform's performance\n"
     "host shows them: a server enables them and counts into a shared block; the\n"
     "monitor loads this library as a performance extension and reads the block.\n"
     "'tqbs perf COMMAND --help' describes one command.\n"
     "\n"
     "Exit codes: 0 success, 1 failure, 2 usage error.\n",
     nullptr, kPerfCommands},
    {"demo", "run a simulated server that counts into the statistics",
     "usage: tqbs demo [--seconds N]\n"
     "\n"
     "A simulated server: enables the statistics counters as their provider, then\n"
     "20 times a second runs a small workload on the library itself and counts it:\n"
     "clients connect and disconnect, transactions begin and commit or abort,\n"
     "requests and queries run, objects are inserted into, updated in and deleted\n"
     "from a sorted list and its red-black tree index, and memory files are written,\n"
     "compressed and checksummed.\n"
     "The workload uses a fixed random seed. Watch it with 'tqbs perf monitor'.\n"
     "\n"
     "Options:\n"
     "  --seconds N  stop after N seconds (default: until SIGINT or SIGTERM)\n"
     "\n"
     "Exit codes: 0 done, 1 the counters could not be enabled (not installed,\n"
     "disabled, another server provides them, or the installation is inconsistent),\n"
     "2 usage error.\n",
     RunDemo, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

bool WantsHelp(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) return true;
    }
    return false;
}

int OptionValue(const char* tool, int argc, char** argv, int* i, const char* name,
                const char** value) {
    const char* arg = argv[*i];
    const size_t length = std::strlen(name);
    if (std::strncmp(arg, name, length) != 0) return 0;
    if (arg[length] == '=') {
        *value = arg + length + 1;
        *i += 1;
        return 1;
    }
    if (arg[length] != '\0') return 0;
    if (*i + 1 >= argc) {
        std::fprintf(stderr, "%s: %s needs a value\n", tool, name);
        return -1;
    }
    *value = argv[*i + 1];
    *i += 2;
    return 1;
}

}  // namespace tqbs
