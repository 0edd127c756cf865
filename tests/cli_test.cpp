// The three commands run as a user runs them, on the example files.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>

#include "support.h"

namespace {

using seedmatch::test::quoted;
using seedmatch::test::readFile;
using seedmatch::test::run;

const std::string kExamples = quoted(SEEDMATCH_SOURCE_DIR "/examples/three_a.seeds") + " " +
                              quoted(SEEDMATCH_SOURCE_DIR "/examples/three_b.seeds") + " ";

// Status, standard error and standard output in one string.
std::string outcome(const std::string& exe, const std::string& args) {
  const seedmatch::test::Result r = run(quoted(exe) + " " + args);
  return std::to_string(r.status) + "|" + r.err + "|" + r.out;
}

TEST(Cli, WholeOutputs) {
  const std::string three = readFile(SEEDMATCH_SOURCE_DIR "/tests/data/three.expected");
  const struct { const char* exe; std::string args, outcome; } cases[] = {
      {SEEDMATCH_EXE, "1 0.5 1 2", "1||" + three},
      {SEEDMATCH_EXE, "1x 0.5y 1z 2w", "1||" + three},  // weights read as atof reads them
      // costLimit "abc" is 0: no pair, the fixed line for an empty table
      {SEEDMATCH_EXE, "1 0.5 1 abc",
       "1||SUM1: 999  AVG1: 999  SUM2: 999 AVG2: 999 AVGS 999 999 999 999\n"},
      {SEEDMATCH_PAIRS_EXE, "1 0.5 1 2",
       "1||" + readFile(SEEDMATCH_SOURCE_DIR "/tests/data/three_pairs.expected")},
      {SEEDMATCH_PAIRS_EXE, "1 0.5 1 0", "1||No matched pair\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(outcome(c.exe, kExamples + c.args), c.outcome) << c.args;
}

// A path may hold a newline; the message must still be one line.
TEST(Cli, ControlBytesInPathsAreEscaped) {
  EXPECT_EQ(outcome(SEEDMATCH_EXE, "\"$(printf 'no\\nsuch')\" x 1 1 1 1"),
            "2|seedmatch:no\\x0asuch: cannot open: no such file\n|");
}

// rpdWeight 0: each row's stored cost is its evaluation cost. A negative costLimit is ignored.
TEST(Cli, RandomReportPairsEverySeed) {
  const std::string out = outcome(SEEDMATCH_RANDOM_EXE, kExamples + "1 0.5 0 -5");
  EXPECT_EQ(out.substr(0, 3), "1||");
  std::istringstream lines(out.substr(3));
  std::string line;
  std::set<int> partners;
  for (int q = 0; q < 3 && std::getline(lines, line); ++q) {
    int p = -1, row = -1;
    double stored = 0.0, evalCost = -1.0;
    EXPECT_EQ(std::sscanf(line.c_str(), "%d %d %lf %*f %*f %lf", &p, &row, &stored, &evalCost), 4)
        << line;
    EXPECT_EQ(row, q) << line;  // in the order of file 2, every seed of it paired
    EXPECT_EQ(stored, evalCost) << line;
    partners.insert(p);
  }
  EXPECT_EQ(partners, (std::set<int>{0, 1, 2}));
  std::getline(lines, line);
  EXPECT_EQ(line.rfind("SUM: ", 0), 0u) << line;
}

TEST(Cli, HelpVersionAndUsage) {
  for (const std::string exe : {SEEDMATCH_EXE, SEEDMATCH_RANDOM_EXE, SEEDMATCH_PAIRS_EXE}) {
    const std::string name = exe.substr(exe.rfind('/') + 1);
    const std::string usage =
        "usage: " + name + " FILE1 FILE2 SEED_WEIGHT HIST_WEIGHT RPD_WEIGHT COST_LIMIT\n";
    EXPECT_EQ(outcome(exe, "--help").substr(0, usage.size() + 4), "0||" + usage + "\n");
    const std::string version = outcome(exe, "--version");
    EXPECT_EQ(version.substr(0, name.size() + 4), "0||" + name + " ") << version;
    EXPECT_EQ(version.find_first_not_of("0123456789.", name.size() + 4), version.size() - 1);
    const std::string tooFew = "2|seedmatch: expected 6 arguments, got ";
    EXPECT_EQ(outcome(exe, ""), tooFew + "0; " + usage + "|");
    EXPECT_EQ(outcome(exe, kExamples + "1 0.5 1"), tooFew + "5; " + usage + "|");
  }
}

}  // namespace
