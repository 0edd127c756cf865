// The command-line front end shared by seedmatch and its companion commands.
#pragma once

namespace seedmatch {

enum class Command {
  report,  // auction, then the evaluation report (seedmatch)
  random,  // random baseline, then the evaluation report (seedmatch-random)
  pairs,   // auction, then the pair listing (seedmatch-pairs)
};

inline constexpr int kExitHelp = 0;       // --help or --version
inline constexpr int kExitCompleted = 1;  // the run completed and its output was written
inline constexpr int kExitError = 2;      // bad arguments, unreadable input, failed output

// Runs one command line; returns the exit status. Errors go to standard error
// as one line each; nothing else is written there.
int runCommand(int argc, const char* const* argv, Command command);

}  // namespace seedmatch
