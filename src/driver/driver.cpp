#include "driver.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

#include "seed/input.h"
#include "seedmatch/matching/matching.h"
#include "seedmatch/report/report.h"
#include "seedmatch/seed/seed.h"
#include "seedmatch/seed/system_error.h"

namespace seedmatch {
namespace {

const char* commandName(Command command) {
  switch (command) {
    case Command::random: return "seedmatch-random";
    case Command::pairs: return "seedmatch-pairs";
    case Command::report: break;
  }
  return "seedmatch";
}

std::string usageLine(Command command) {
  return std::string("usage: ") + commandName(command) +
         " FILE1 FILE2 SEED_WEIGHT HIST_WEIGHT RPD_WEIGHT COST_LIMIT";
}

void printHelp(Command command) {
  std::printf("%s\n\n", usageLine(command).c_str());
  switch (command) {
    case Command::report:
      std::printf(
          "Pairs the seeds of FILE1 with those of FILE2 by auction and prints one\n"
          "line per pair and a summary line.\n");
      break;
    case Command::random:
      std::printf(
          "Pairs the seeds of FILE1 with those of FILE2 at random, as a baseline,\n"
          "and prints the same report as seedmatch.\n");
      break;
    case Command::pairs:
      std::printf(
          "Pairs the seeds of FILE1 with those of FILE2 by auction and lists each\n"
          "pair with the distance between its two positions.\n");
      break;
  }
  std::printf(
      "\n"
      "  SEED_WEIGHT  weight of the descriptor dissimilarity\n"
      "  HIST_WEIGHT  weight of the neighbour-histogram dissimilarity\n"
      "  RPD_WEIGHT   weight of the relative-position disagreement\n"
      "  COST_LIMIT   %s\n"
      "\n"
      "Either file may be -, standard input.\n"
      "\n"
      "Exit status: 1 after a completed run, 2 on an error, 0 for --help and --version.\n",
      command == Command::random ? "accepted and ignored: the draw tests no cost"
                                 : "a pair is made only when its cost is below this");
}

// Library lines begin with kErrorPrefix; each command signs them with its own name.
void reportLine(Command command, std::string_view line) {
  const std::string_view prefix = kErrorPrefix;
  if (line.substr(0, prefix.size()) == prefix) line.remove_prefix(prefix.size());
  std::fprintf(stderr, "%s:%.*s\n", commandName(command), static_cast<int>(line.size()),
               line.data());
}

// A message of the command's own, "NAME: what".
void reportError(Command command, const std::string& what) {
  std::fprintf(stderr, "%s: %s\n", commandName(command), what.c_str());
}

// A whole argument that reads as a number, as a weight would be written.
bool looksLikeNumber(std::string_view text) {
  if (text.size() > 1 && text[0] == '+') text.remove_prefix(1);
  double value = 0.0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && end == text.data() + text.size() && ec != std::errc::invalid_argument;
}

// The line for a seed file that could not be read. A file that cannot be
// opened under a name like "0.5" is most likely a weight given first, and one
// named like an option an option given among the arguments.
std::string readErrorLine(const ReadError& error, Command command) {
  const bool notOpened = error.message.rfind("cannot open", 0) == 0;
  if (notOpened && error.path.size() > 1 && error.path[0] == '-') {
    return std::string(kErrorPrefix) + " unknown option " + error.path + " (--help and --version come alone); " +
           usageLine(command);
  }
  std::string line = formatReadError(error);
  if (notOpened && looksLikeNumber(error.path)) {
    line += " (the two seed files come first, then the four weights)";
  }
  return line;
}

int run(const char* const* argv, Command command) {
  const std::string path1 = argv[1];
  const std::string path2 = argv[2];
  const double seedWeight = std::atof(argv[3]);
  const double histWeight = std::atof(argv[4]);
  const double rpdWeight = std::atof(argv[5]);
  const double costLimit = std::atof(argv[6]);
  const SeedDistWeights weights{};  // the fixed 0.8, 1.4, 0.8, 0.1, 0.2

  if (path1 == kStandardInput && path2 == kStandardInput) {
    reportError(command,
                "- (standard input) can stand for only one of the two seed files");
    return kExitError;
  }
  SeedSet set1;
  SeedSet set2;
  MatchTable table;
  if (auto error = readSeedPair(path1, path2, set1, set2)) {
    reportLine(command, readErrorLine(*error, command));
    return kExitError;
  }

  if (command == Command::random) {
    RandomMatching(set1, set2, table, costLimit, seedWeight, histWeight, rpdWeight, weights);
  } else {
    nModifiedWeightedBipartiteMatching(set1, set2, table, costLimit, seedWeight, histWeight,
                                       rpdWeight, weights);
  }
  errno = 0;  // so that a failed write below leaves its own cause
  if (command == Command::pairs) {
    print_match_pairs(set1, set2, table, seedWeight, histWeight, rpdWeight);
  } else {
    evaluateMatch(set1, set2, table, seedWeight, histWeight, weights);
  }
  return kExitCompleted;
}

// What was written to standard output must have reached it: a report or help
// text lost on a full disk or a closed pipe is not a completed run.
// errno is cleared before anything is printed, so it still holds the cause.
int checkOutput(int status, Command command) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    const int error = errno;
    reportError(command, std::string("cannot write standard output") +
                             (error != 0 ? ": " + systemErrorText(error) : std::string()));
    return kExitError;
  }
  return status;
}

}  // namespace

int runCommand(int argc, const char* const* argv, Command command) {
  errno = 0;
  if (argc == 2) {
    const std::string_view option = argv[1];
    if (option == "-h" || option == "--help") {
      printHelp(command);
      return checkOutput(kExitHelp, command);
    }
    if (option == "--version") {
      std::printf("%s %s\n", commandName(command), SEEDMATCH_VERSION);
      return checkOutput(kExitHelp, command);
    }
  }
  if (argc < 7) {
    reportError(command, std::string("expected 6 arguments, got ") +
                             std::to_string(argc < 1 ? 0 : argc - 1) + "; " + usageLine(command));
    return kExitError;
  }

  int status = kExitError;
  try {
    status = run(argv, command);
  } catch (const std::bad_alloc&) {
    reportError(command, "out of memory");
    return kExitError;
  } catch (const std::length_error&) {  // a container asked for more than it can hold
    reportError(command, "out of memory");
    return kExitError;
  } catch (const std::exception& error) {
    reportError(command, error.what());
    return kExitError;
  }
  return checkOutput(status, command);
}

}  // namespace seedmatch
