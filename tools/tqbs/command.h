// Subcommands of tqbs. Each lives in its own file and registers itself in the
// table of commands.cpp.
#ifndef TQBS_COMMAND_H
#define TQBS_COMMAND_H

namespace tqbs {

// Exit codes of the tool.
enum ExitCode : int { kSuccess = 0, kFailure = 1, kUsage = 2 };

struct Command {
    const char* name;
    const char* summary;  // one line for the command list
    const char* usage;    // the text of "tqbs NAME --help"
    // argv[0] is the subcommand's name.
    int (*run)(int argc, char** argv);
};

// The table of subcommands, ended by an entry with a null name.
extern const Command kCommands[];

// True when argv holds "--help" or "-h".
bool WantsHelp(int argc, char** argv);

int RunInfo(int argc, char** argv);
int RunError(int argc, char** argv);
int RunRegistry(int argc, char** argv);
int RunModule(int argc, char** argv);

}  // namespace tqbs

#endif  // TQBS_COMMAND_H
