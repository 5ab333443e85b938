// tqbs: the command-line tool of the Tessaloquin basics library.
#include <cstdio>
#include <cstring>

#include "command.h"

namespace {

void PrintHelp(FILE* out) {
    std::fputs(
        "usage: tqbs [--help] COMMAND [ARGS...]\n"
        "\n"
        "The tool of the Tessaloquin basics library.\n"
        "\n"
        "Commands:\n",
        out);
    for (const tqbs::Command* command = tqbs::kCommands; command->name != nullptr; ++command) {
        std::fprintf(out, "  %-10s %s\n", command->name, command->summary);
    }
    std::fputs("\n'tqbs COMMAND --help' describes one command.\n", out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintHelp(stderr);
        return tqbs::kUsage;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
        std::strcmp(argv[1], "help") == 0) {
        PrintHelp(stdout);
        return tqbs::kSuccess;
    }
    for (const tqbs::Command* command = tqbs::kCommands; command->name != nullptr; ++command) {
        if (std::strcmp(argv[1], command->name) != 0) continue;
        if (tqbs::WantsHelp(argc - 1, argv + 1)) {
            std::fputs(command->usage, stdout);
            return tqbs::kSuccess;
        }
        return command->run(argc - 1, argv + 1);
    }
    std::fprintf(stderr, "tqbs: unknown command '%s'\n", argv[1]);
    PrintHelp(stderr);
    return tqbs::kUsage;
}
