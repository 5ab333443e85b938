// tqbs: the command-line tool of the Tessaloquin basics library.
#include <cstdio>
#include <cstring>
#include <vector>

#include "command.h"

namespace {

void PrintHelp(FILE* out) {
    std::fputs(
        "usage: tqbs COMMAND [ARGS...]\n"
        "       tqbs --help | --version\n"
        "\n"
        "The tool of the Tessaloquin basics library. --version (-V) shows the tool's\n"
        "version and the library's identity.\n"
        "\n"
        "Commands:\n",
        out);
    for (const tqbs::Command* command = tqbs::kCommands; command->name != nullptr; ++command) {
        std::fprintf(out, "  %-10s %s\n", command->name, command->summary);
    }
    std::fputs("\n'tqbs COMMAND --help' (or 'tqbs help COMMAND') describes one command.\n", out);
}

// A group of subcommands: argv[0] is the group's name, argv[1] the subcommand.
int RunGroup(const tqbs::Command& group, int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fputs(group.usage, argc < 2 ? stderr : stdout);
        return argc < 2 ? tqbs::kUsage : tqbs::kSuccess;
    }
    for (const tqbs::Command* command = group.subcommands; command->name != nullptr; ++command) {
        if (std::strcmp(argv[1], command->name) != 0) continue;
        if (tqbs::WantsHelp(argc - 1, argv + 1)) {
            std::fputs(command->usage, stdout);
            return tqbs::kSuccess;
        }
        return command->run(argc - 1, argv + 1);
    }
    std::fprintf(stderr, "tqbs %s: unknown command '%s'\n", group.name, argv[1]);
    std::fputs(group.usage, stderr);
    return tqbs::kUsage;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintHelp(stderr);
        return tqbs::kUsage;
    }
    // 'tqbs help COMMAND [SUBCOMMAND]' is 'tqbs COMMAND [SUBCOMMAND] --help'.
    std::vector<char*> helpArgs;
    static char helpOption[] = "--help";
    if (std::strcmp(argv[1], "help") == 0 && argc > 2) {
        helpArgs.push_back(argv[0]);
        helpArgs.insert(helpArgs.end(), argv + 2, argv + argc);
        helpArgs.push_back(helpOption);
        helpArgs.push_back(nullptr);
        argc = static_cast<int>(helpArgs.size()) - 1;
        argv = helpArgs.data();
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
        std::strcmp(argv[1], "help") == 0) {
        PrintHelp(stdout);
        return tqbs::kSuccess;
    }
    if (std::strcmp(argv[1], "--version") == 0 || std::strcmp(argv[1], "-V") == 0) {
        if (argc > 2) {
            std::fprintf(stderr, "tqbs: unexpected argument '%s'\n", argv[2]);
            return tqbs::kUsage;
        }
        return tqbs::PrintVersion();
    }
    for (const tqbs::Command* command = tqbs::kCommands; command->name != nullptr; ++command) {
        if (std::strcmp(argv[1], command->name) != 0) continue;
        if (command->subcommands != nullptr) return RunGroup(*command, argc - 1, argv + 1);
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
