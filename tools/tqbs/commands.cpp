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
     "usage: tqbs perf status [--json]\n"
     "\n"
     "Shows what is installed: the library, its three entry points and whether\n"
     "they resolve, the name and help index ranges, the disabled flag; then whether\n"
     "a server provides the counters (the process holding the provider guard), the\n"
     "block a monitor reads (live, stale: left by a server that ended, or another\n"
     "account's), the blocks it refuses because others may write them, and what one\n"
     "collection returns.\n"
     "\n"
     "--json prints the same as one JSON object: installed, key, library,\n"
     "entry_points, names, help_texts, disabled, provider, block, refused and\n"
     "collection ({\"installed\":false} when not installed).\n"
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
    {"list", "list every counter with its type, scale, detail level and help",
     "usage: tqbs perf list [--json]\n"
     "\n"
     "Lists every counter of the Tessaloquin performance object: its identifier,\n"
     "name, type (a raw count, or a running total shown as a rate), default scale\n"
     "(a power of ten), detail level and help text, with its column label in\n"
     "'tqbs perf monitor --format table' and its Prometheus metric. Names and help\n"
     "texts are the installed ones when the counters are installed, else the\n"
     "library's own; type, scale and detail level come from the library's item\n"
     "table. --json prints one object with a \"counters\" array.\n"
     "\n"
     "Exit codes: 0 listed, 2 usage error.\n",
     RunPerfList, nullptr},
    {"monitor", "show the counters live, as the performance host",
     "usage: tqbs perf monitor [--interval S] [--count N] [--counters NAME,...]\n"
     "                         [--format lines|table|csv|json] [--prometheus FILE]\n"
     "\n"
     "Acts as the performance host: loads the library named by the installation,\n"
     "resolves its Open, Collect and Close entry points by their installed names,\n"
     "and every interval collects the counters. The counter type decides what is\n"
     "shown: a raw count as it stands, a running total (the \"/sec\" counters of\n"
     "type PERF_COUNTER_COUNTER) as its rate per second over the interval;\n"
     "\"Waiting Jobs/sec\" is a raw count.\n"
     "\n"
     "On a terminal, without --format, a live screen fits the window (and follows\n"
     "its size) and is redrawn in place on the alternate screen, so the scrollback\n"
     "keeps nothing of it; rows that do not fit are counted on a \"... N more\"\n"
     "line, and the last screen stays when the monitor ends. Otherwise one line\n"
     "per sample in the format of --format:\n"
     "  lines  (the default) the time, then NAME=VALUE for every counter\n"
     "  table  fixed-width columns as vmstat prints them, the header repeated every\n"
     "         20 lines; 'tqbs perf list' names the columns\n"
     "  csv    a header line (time,state,transactions,commits_per_second,...),\n"
     "         then one line per sample\n"
     "  json   one object per sample and line: time, state, provider_pid and the\n"
     "         values by the names of the csv header; a rate not known yet is null\n"
     "While no server provides the counters, \"no provider\" is shown and sampling\n"
     "goes on, so a monitor may be started before the server.\n"
     "\n"
     "Options:\n"
     "  --interval S         seconds between samples (default 1; at least 0.1)\n"
     "  --count N            stop after N samples (default: until interrupted)\n"
     "  --counters NAME,...  only these counters, in this order. A NAME is the short\n"
     "                       name (commits, clients), the metric with or without\n"
     "                       its prefix (tessaloquin_commits_total) or the installed\n"
     "                       name (Commits/sec), ignoring case; see 'tqbs perf list'\n"
     "  --format F           lines, table, csv or json, also on a terminal\n"
     "  --prometheus FILE    after every sample, write every counter in the\n"
     "                       Prometheus text format to FILE for node_exporter's\n"
     "                       textfile collector (a private temporary file beside\n"
     "                       it, renamed over it: a link at FILE is replaced):\n"
     "                       running totals as counters (tessaloquin_commits_total),\n"
     "                       raw counts as gauges (tessaloquin_clients), and\n"
     "                       tessaloquin_up, 1 while a server provides them. With\n"
     "                       --prometheus the monitor also runs while the counters\n"
     "                       are not installed or disabled, writing tessaloquin_up 0.\n"
     "\n"
     "Exit codes: 0 done (also when stopped by SIGINT or SIGTERM), 1 not installed or\n"
     "disabled (without --prometheus), the library or its entry points cannot be\n"
     "loaded, or FILE cannot be written, 2 usage error (an unknown counter name\n"
     "included; the valid names are listed).\n",
     RunPerfMonitor, nullptr},
    {"serve", "serve the counters over HTTP for Prometheus", kPerfServeUsage, RunPerfServe,
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

const Command kCommands[] = {
    {"info", "show the identity of the basics library",
     "usage: tqbs info [--json]\n"
     "\n"
     "Shows the library's module name, description, five version numbers, build date\n"
     "and compiler, as the library itself reports them.\n"
     "\n"
     "--json prints them as one JSON object: module, description, version (the five\n"
     "numbers), built, compiler and compiler_version.\n"
     "\n"
     "Exit codes: 0 success, 2 usage error.\n",
     RunInfo, nullptr},
    {"error", "show the text of result codes, or search the error catalogue",
     "usage: tqbs error [--] CODE...\n"
     "       tqbs error --search [--] WORD...\n"
     "       tqbs error --all\n"
     "\n"
     "With codes (decimal, e.g. -2002, from -2147483648 to 2147483647), prints each\n"
     "code with its text from the error catalogue, one line per code. A code without\n"
     "an entry is reported as such, with the text the library shows for it (\"count\"\n"
     "for 1 to 999, else \"unknown error\"), and the exit code is 1. Code 0 is \"ok\".\n"
     "\n"
     "With --search, lists every entry whose text contains all the words, ignoring\n"
     "case; a quoted argument with blanks is matched as one phrase. The exit code\n"
     "is 1 when nothing matches. --all lists the whole catalogue.\n"
     "\n"
     "-- ends the options: what follows is a code or a word even if it begins with -.\n"
     "\n"
     "Exit codes: 0 success, 1 unknown code or no match, 2 usage error.\n",
     RunError, nullptr},
    {"registry", "read, write, delete or list the product's registry keys and values",
     "usage: tqbs registry get KEY NAME\n"
     "       tqbs registry set KEY NAME VALUE [--type string|dword]\n"
     "       tqbs registry delete KEY [NAME]\n"
     "       tqbs registry list [KEY]\n"
     "\n"
     "Works on the keys and values below the product key\n"
     "SOFTWARE\\Wow6432Node\\Quelmar\\Tessaloquin in the registry store. KEY is one\n"
     "argument, the subkeys below the product key joined by \\ (quoted for the shell:\n"
     "'Server\\Net'); \"\" is the product key itself. NAME names a value of the key;\n"
     "\"\" is the key's default value. A key may hold a subkey and a value of the\n"
     "same name. Names may not be . or .. nor hold / or control characters.\n"
     "\n"
     "  get     prints the value and a newline: a string as its text, a dword as a\n"
     "          decimal number\n"
     "  set     stores VALUE, creating missing keys: with --type string (the\n"
     "          default) the text without a terminating zero, with --type dword a\n"
     "          32-bit number, 0 to 4294967295 or 0x0 to 0xffffffff\n"
     "  delete  with NAME deletes the value; without it deletes the key KEY, its\n"
     "          values and every key below it (never the product key itself)\n"
     "  list    prints the subkeys of KEY (default: the product key), one\n"
     "          \"key<TAB>NAME\" line each, then its values, one\n"
     "          \"TYPE<TAB>NAME<TAB>VALUE\" line each (TYPE string, expand, dword or\n"
     "          binary; control characters in a value shown as \\n, \\t, \\xHH)\n"
     "\n"
     "-- ends the options: 'tqbs registry set -- KEY NAME --text' stores \"--text\".\n"
     "\n"
     "The registry is a directory tree: $TQ_REGISTRY_ROOT, else\n"
     "$XDG_CONFIG_HOME/tessaloquin/registry, else ~/.config/tessaloquin/registry.\n"
     "\n"
     "Exit codes: 0 success, 1 no such key or value, permission denied or the store\n"
     "failed (the message says which), 2 usage error (a refused name or a VALUE that\n"
     "is not a number for --type dword included).\n",
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
     "When the module cannot be loaded, each place searched is listed with the\n"
     "reason it failed there.\n"
     "\n"
     "Exit codes: 0 success, 1 the module cannot be loaded or does not describe\n"
     "itself, 2 usage error.\n",
     RunModule, nullptr},
    {"perf", "install, inspect and monitor the statistics counters",
     "usage: tqbs perf install\n"
     "       tqbs perf uninstall\n"
     "       tqbs perf status [--json]\n"
     "       tqbs perf cleanup\n"
     "       tqbs perf list [--json]\n"
     "       tqbs perf monitor [--interval S] [--count N] [--counters NAME,...]\n"
     "                         [--format F] [--prometheus FILE]\n"
     "       tqbs perf serve [--listen ADDRESS:PORT]\n"
     "\n"
     "The statistics counters of a Tessaloquin server, as the platform's performance\n"
     "host shows them: a server enables them and counts into a shared block; the\n"
     "monitor loads this library as a performance extension and reads the block,\n"
     "and serve does the same on every scrape of Prometheus.\n"
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
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
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
