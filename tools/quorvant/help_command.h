// quorvant help [COMMAND], and --help on every command: what each command
// and option does, on standard output.
#ifndef QUORVANT_TOOLS_HELP_COMMAND_H_
#define QUORVANT_TOOLS_HELP_COMMAND_H_

#include <cstdio>
#include <string>
#include <vector>

namespace quorvant::cli {

// The one-screen list of every command.
void PrintUsage(std::FILE* out);
// The list on standard error, for a command line that does not parse;
// returns the usage exit status (64).
int UsageError();
// "help", "help COMMAND": the help asked for; exit status 0, or 64 for an
// unknown command.
int HelpCommand(const std::vector<std::string>& args);
// True when a command's arguments ask for its help (--help or -h first).
bool AsksForHelp(const std::vector<std::string>& args);

}  // namespace quorvant::cli

#endif  // QUORVANT_TOOLS_HELP_COMMAND_H_
