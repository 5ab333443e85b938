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
    {nullptr, nullptr, nullptr, nullptr},
};

bool WantsHelp(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) return true;
    }
    return false;
}

}  // namespace tqbs
