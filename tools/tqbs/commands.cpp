#include <cstring>

#include "command.h"

namespace tqbs {

const Command kCommands[] = {
    {"info", "show the identity of the basics library",
     "usage: tqbs info\n"
     "\n"
     "Shows the library's module name, description, five version numbers, build date\n"
     "and compiler, as the library itself reports them.\n",
     RunInfo},
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
     RunError},
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
     RunRegistry},
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
     RunModule},
    {nullptr, nullptr, nullptr, nullptr},
};

bool WantsHelp(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) return true;
    }
    return false;
}

}  // namespace tqbs
