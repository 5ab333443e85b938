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
    // argv[0] is the subcommand's name. Null for a group of subcommands.
    int (*run)(int argc, char** argv);
    // A group ("tqbs perf install"): its subcommands, ended by a null name.
    const Command* subcommands;
};

// The table of subcommands, ended by an entry with a null name.
extern const Command kCommands[];

// True when argv holds "--help" or "-h" before a "--" (which ends the options).
bool WantsHelp(int argc, char** argv);

// Reads the value of option name at argv[*i], given as "NAME VALUE" or
// "NAME=VALUE"; advances *i past it. 1 when argv[*i] is the option, 0 when it
// is not, -1 when its value is missing (a message went to stderr).
int OptionValue(const char* tool, int argc, char** argv, int* i, const char* name,
                const char** value);

// tqbs --version: the tool's version and the library's identity.
int PrintVersion();
int RunInfo(int argc, char** argv);
int RunError(int argc, char** argv);
int RunRegistry(int argc, char** argv);
int RunModule(int argc, char** argv);
int RunPerfInstall(int argc, char** argv);
int RunPerfUninstall(int argc, char** argv);
int RunPerfStatus(int argc, char** argv);
int RunPerfCleanup(int argc, char** argv);
int RunPerfMonitor(int argc, char** argv);
int RunPerfList(int argc, char** argv);
int RunPerfServe(int argc, char** argv);
// The help of perf serve, which tells whether this build has an HTTP server.
extern const char kPerfServeUsage[];
int RunDemo(int argc, char** argv);

}  // namespace tqbs

#endif  // TQBS_COMMAND_H
