// The three commands run as a user runs them, on the example files.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support.h"

namespace {

using seedmatch::test::readFile;

const std::string kExamples = SEEDMATCH_SOURCE_DIR "/examples/";
const std::string kThreeA = kExamples + "three_a.seeds";
const std::string kThreeB = kExamples + "three_b.seeds";

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

std::string quoted(const std::string& text) {
  std::string result = "'";
  for (char c : text) result += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return result + "'";
}

Result run(const std::string& exe, const std::vector<std::string>& args) {
  const std::string base = testing::TempDir() + "seedmatch_cli_" +
                           testing::UnitTest::GetInstance()->current_test_info()->name();
  std::string command = quoted(exe);
  for (const std::string& arg : args) command.append(" ").append(quoted(arg));
  command.append(" >").append(quoted(base + ".out"));
  command.append(" 2>").append(quoted(base + ".err"));
  Result result;
  const int raw = std::system(command.c_str());
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  result.out = readFile(base + ".out");
  result.err = readFile(base + ".err");
  std::remove((base + ".out").c_str());
  std::remove((base + ".err").c_str());
  return result;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

// A summary line with every field below 10, as the examples give.
constexpr const char* kThreeSummaryForm =
    "SUM:  0.000 AVG:  0.000 avgRP:  0.000 navgRP:  0.000"
    " AVGSd:  0.000  0.000  0.000  0.000  0.000  0.000";
const std::string kEmptyReport = "SUM1: 999  AVG1: 999  SUM2: 999 AVG2: 999 AVGS 999 999 999 999\n";

TEST(Cli, ThreeSeedReport) {
  const Result r = run(SEEDMATCH_EXE, {kThreeA, kThreeB, "1", "0.5", "1", "2"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, readFile(SEEDMATCH_SOURCE_DIR "/tests/data/three.expected"));
  EXPECT_EQ(r.err, "");
}

TEST(Cli, ThreeSeedListing) {
  const Result r = run(SEEDMATCH_PAIRS_EXE, {kThreeA, kThreeB, "1", "0.5", "1", "2"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, readFile(SEEDMATCH_SOURCE_DIR "/tests/data/three_pairs.expected"));
  EXPECT_EQ(r.err, "");
}

TEST(Cli, RandomReportOnTheExamples) {
  // rpdWeight 0: the stored cost of every pair equals its evaluation cost;
  // a negative costLimit is ignored.
  const Result r = run(SEEDMATCH_RANDOM_EXE, {kThreeA, kThreeB, "1", "0.5", "0", "-5"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "");
  const std::vector<std::string> printed = lines(r.out);
  ASSERT_EQ(printed.size(), 4u) << r.out;
  std::set<int> partners;
  for (int i = 0; i < 3; ++i) {
    const std::string& line = printed[static_cast<std::size_t>(i)];
    int p = -1, q = -1;
    double stored = 0.0, evalCost = -1.0;
    EXPECT_EQ(std::sscanf(line.c_str(), "%d %d %lf %*f %*f %lf", &p, &q, &stored, &evalCost), 4);
    EXPECT_EQ(line.size(), 2 + 3 + 11 * 7u) << line;  // every value below 100
    EXPECT_EQ(q, i) << "every seed of file 2 is paired, rows in its order";
    partners.insert(p);
    EXPECT_EQ(stored, evalCost);
  }
  EXPECT_EQ(partners, (std::set<int>{0, 1, 2}));
  EXPECT_EQ(printed[3].rfind("SUM: ", 0), 0u);
  EXPECT_EQ(printed[3].size(), std::string(kThreeSummaryForm).size()) << printed[3];
}

TEST(Cli, CostLimitZeroMakesNoPair) {
  const Result report = run(SEEDMATCH_EXE, {kThreeA, kThreeB, "1", "0.5", "1", "0"});
  EXPECT_EQ(report.status, 1);
  EXPECT_EQ(report.out, kEmptyReport);
  const Result listing = run(SEEDMATCH_PAIRS_EXE, {kThreeA, kThreeB, "1", "0.5", "1", "0"});
  EXPECT_EQ(listing.status, 1);
  EXPECT_EQ(listing.out, "No matched pair\n");
}

TEST(Cli, WeightsAreConvertedLikeAtof) {
  const Result zero = run(SEEDMATCH_EXE, {kThreeA, kThreeB, "0", "0.5", "1", "2"});
  const Result letters = run(SEEDMATCH_EXE, {kThreeA, kThreeB, "abc", "0.5", "1", "2"});
  const Result suffixed = run(SEEDMATCH_EXE, {kThreeA, kThreeB, "1x", "0.5y", "1z", "2w"});
  EXPECT_EQ(letters.status, 1);
  EXPECT_EQ(letters.out, zero.out);
  EXPECT_EQ(suffixed.status, 1);
  EXPECT_EQ(suffixed.out, readFile(SEEDMATCH_SOURCE_DIR "/tests/data/three.expected"));
  // With no descriptor weight every pair is won at its histogram cost, 0.
  ASSERT_FALSE(zero.out.empty());
  EXPECT_EQ(lines(zero.out)[0],
            " 0  0  0.000  0.832  0.000  0.000  0.800  0.000  0.000  0.040  0.000  0.000  1.000");
}

TEST(Cli, HelpVersionAndUsage) {
  for (const std::string exe : {SEEDMATCH_EXE, SEEDMATCH_RANDOM_EXE, SEEDMATCH_PAIRS_EXE}) {
    SCOPED_TRACE(exe);
    const std::string name = exe.substr(exe.rfind('/') + 1);

    const Result help = run(exe, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: " + name + " FILE1 FILE2 ", 0), 0u) << help.out;
    EXPECT_EQ(help.err, "");

    const Result version = run(exe, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind(name + " ", 0), 0u) << version.out;
    EXPECT_EQ(version.out.find_first_not_of("0123456789.", name.size() + 1), version.out.size() - 1)
        << version.out;
    EXPECT_EQ(version.out.back(), '\n');

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {kThreeA, kThreeB, "1", "0.5", "1"}}) {
      const Result tooFew = run(exe, args);
      EXPECT_EQ(tooFew.status, 2);
      EXPECT_EQ(tooFew.out, "");
      EXPECT_EQ(lines(tooFew.err).size(), 1u) << tooFew.err;
      EXPECT_EQ(tooFew.err.rfind("seedmatch: ", 0), 0u) << tooFew.err;
    }
  }
}

}  // namespace
