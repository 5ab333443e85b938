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
    {nullptr, nullptr, nullptr, nullptr},
};

bool WantsHelp(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) return true;
    }
    return false;
}

}  // namespace tqbs
