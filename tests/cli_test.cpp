// The three commands run as a user runs them, on the example files.
#include <cstdio>
#include <set>

#include "support.h"

namespace {

using seedmatch::test::quoted;
using seedmatch::test::readFile;

const std::string kExamples = quoted(SEEDMATCH_SOURCE_DIR "/examples/three_a.seeds") + " " +
                              quoted(SEEDMATCH_SOURCE_DIR "/examples/three_b.seeds") + " ";

// Status, standard error and standard output in one string.
std::string outcome(const std::string& exe, const std::string& args) {
  return seedmatch::test::run(quoted(exe) + " " + args);
}

TEST(Cli, WholeOutputs) {
  const std::string three = readFile(SEEDMATCH_SOURCE_DIR "/tests/data/three.expected");
  const struct { const char* exe; std::string args, outcome; } cases[] = {
      {SEEDMATCH_EXE, kExamples + "1 0.5 1 2", "1||" + three},
      {SEEDMATCH_EXE, kExamples + "1x 0.5y 1z 2w", "1||" + three},  // weights read as atof reads them
      // costLimit "abc" is 0: no pair, the fixed line for an empty table
      {SEEDMATCH_EXE, kExamples + "1 0.5 1 abc", "1||SUM1: 999  AVG1: 999  SUM2: 999 AVG2: 999 AVGS 999 999 999 999\n"},
      {SEEDMATCH_PAIRS_EXE, kExamples + "1 0.5 1 2", "1||" + readFile(SEEDMATCH_SOURCE_DIR "/tests/data/three_pairs.expected")},
      {SEEDMATCH_PAIRS_EXE, kExamples + "1 0.5 1 0", "1||No matched pair\n"},
      // A path may hold a newline; the message must still be one line.
      {SEEDMATCH_EXE, "\"$(printf 'no\\nsuch')\" x 1 1 1 1", "2|seedmatch:no\\x0asuch: cannot open: no such file\n|"},
  };
  for (const auto& c : cases) EXPECT_EQ(outcome(c.exe, c.args), c.outcome) << c.args;
}

// rpdWeight 0: each row's stored cost is its evaluation cost. A negative costLimit is ignored.
TEST(Cli, RandomReportPairsEverySeed) {
  const std::string out = outcome(SEEDMATCH_RANDOM_EXE, kExamples + "1 0.5 0 -5");
  ASSERT_EQ(out.substr(0, 3), "1||");
  std::set<int> partners;
  std::size_t at = 3;
  for (int q = 0, p = -1, row = -1, used = 0; q < 3; ++q, at += static_cast<std::size_t>(used), partners.insert(p)) {
    double stored = 0.0, evalCost = -1.0;
    EXPECT_EQ(std::sscanf(out.c_str() + at, "%d %d %lf %*f %*f %lf%*[^\n]\n%n", &p, &row, &stored, &evalCost, &used), 4);
    EXPECT_EQ(row, q);  // in the order of file 2, every seed of it paired
    EXPECT_EQ(stored, evalCost);
  }
  EXPECT_EQ(partners, (std::set<int>{0, 1, 2}));
  EXPECT_EQ(out.substr(at, 5), "SUM: ");
}

TEST(Cli, HelpVersionAndUsage) {
  for (const std::string exe : {SEEDMATCH_EXE, SEEDMATCH_RANDOM_EXE, SEEDMATCH_PAIRS_EXE}) {
    const std::string name = exe.substr(exe.rfind('/') + 1);
    const std::string usage = "usage: " + name + " FILE1 FILE2 SEED_WEIGHT HIST_WEIGHT RPD_WEIGHT COST_LIMIT\n";
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
