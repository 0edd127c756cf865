// The three commands run as a user runs them, on good and bad files, and with
// standard output that cannot be written (a lost report is not a completed run).
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>

#include "support.h"

// Address and thread sanitizers reserve more address space than the limits below.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define SEEDMATCH_SHADOW_MEMORY 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define SEEDMATCH_SHADOW_MEMORY 1
#endif
#endif

namespace {

using seedmatch::test::quoted;
using seedmatch::test::readFile;

const std::string kExamples = quoted(SEEDMATCH_SOURCE_DIR "/examples/three_a.seeds") + " " +
                              quoted(SEEDMATCH_SOURCE_DIR "/examples/three_b.seeds") + " ";

std::string outcome(const std::string& exe, const std::string& args) {
  return seedmatch::test::run(quoted(exe) + " " + args);
}

TEST(Cli, WholeOutputs) {
  const std::string data = SEEDMATCH_SOURCE_DIR "/tests/data/",
                    three = readFile(data + "three.expected");
  const struct {
    const char* exe;
    std::string args, outcome;
  } cases[] = {
      {SEEDMATCH_EXE, kExamples + "1 0.5 1 2", "1||" + three},
      {SEEDMATCH_EXE, kExamples + "1x 0.5y 1z 2w",
       "1||" + three},  // weights read as atof reads them
      // costLimit "abc" is 0: no pair, the fixed line for an empty table
      {SEEDMATCH_EXE, kExamples + "1 0.5 1 abc",
       "1||SUM1: 999  AVG1: 999  SUM2: 999 AVG2: 999 AVGS 999 999 999 999\n"},
      {SEEDMATCH_PAIRS_EXE, kExamples + "1 0.5 1 2",
       "1||" + readFile(data + "three_pairs.expected")},
      // Seeds 3 apart in desc[0], 5 apart in space: one pair at cost 3, whatever the negative
      // costLimit.
      {SEEDMATCH_RANDOM_EXE,
       quoted(data + "one_a.seeds") + " " + quoted(data + "one_b.seeds") + " 1 0.5 2 -5",
       "1|| 0  0  3.000  3.000  0.000  3.000  3.000  0.000  0.000  0.000  0.000  0.000  5.000\n"
       "SUM:  3.000 AVG:  3.000 avgRP:  4.000 navgRP:  4.000 AVGSd:  3.000  0.000  0.000  0.000  "
       "0.000  0.000\n"},
      // A path may hold a newline; the message must still be one line.
      {SEEDMATCH_EXE, "\"$(printf 'no\\nsuch')\" x 1 1 1 1",
       "2|seedmatch:no\\x0asuch: cannot open: no such file\n|"},
  };
  for (const auto& c : cases) EXPECT_EQ(outcome(c.exe, c.args), c.outcome) << c.args;
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
    const std::string tooFew = "2|" + name + ": expected 6 arguments, got ";
    EXPECT_EQ(outcome(exe, ""), tooFew + "0; " + usage + "|");
    EXPECT_EQ(outcome(exe, kExamples + "1 0.5 1"), tooFew + "5; " + usage + "|");
  }
}

const std::string kGood = SEEDMATCH_SOURCE_DIR "/examples/three_a.seeds";
const std::string kPath =
    testing::TempDir() + "cli_errors." + std::to_string(::getpid()) + ".seeds";

// The outcome of a run on the two files, without the report of a completed run.
std::string fileOutcome(const std::string& file1, const std::string& file2,
                        const std::string& before = "") {
  const std::string r = seedmatch::test::run(before + quoted(SEEDMATCH_EXE) + " " + quoted(file1) +
                                             " " + quoted(file2) + " 1 0.5 1 2");
  return r.rfind("1||", 0) == 0 ? "1||" : r;
}

TEST(CliErrors, SeedFileTable) {
  auto cases = seedmatch::test::seedFileCases();
  cases.push_back(
      {std::string(3'000'000, '5'),
       "seedmatch:FILE:1:1: expected seed count, found a token of 1048576 bytes or more",
       "one long token"});
  for (const auto& c : cases) {
    std::ofstream(kPath, std::ios::binary) << c.text;
    const auto file = c.expected.find("FILE");
    const std::string expected = c.expected == "valid" ? "1||"
                                                       : "2|" + c.expected.substr(0, file) + kPath +
                                                             c.expected.substr(file + 4) + "\n|";
    EXPECT_EQ(fileOutcome(kPath, kGood), expected) << c.where;
    EXPECT_EQ(fileOutcome(kGood, kPath), expected) << c.where;
#ifndef SEEDMATCH_SHADOW_MEMORY
    // A reader that sized anything by a count the file claims would run out of memory.
    EXPECT_EQ(fileOutcome(kGood, kPath, "ulimit -v 1048576; exec "), expected) << c.where;
#endif
  }
  std::remove(kPath.c_str());
}

TEST(CliErrors, PipesAndStandardInput) {
  const std::string good = "cat " + quoted(kGood) + " | ",
                    tooShort = "printf '1 0 0 0 0 0 0 1 2' | ";
  const struct {
    std::string file1, file2, before, outcome;
  } cases[] = {
      {"-", kGood, good, "1||"},
      {kGood, "-", good, "1||"},
      {kGood, "-", tooShort,
       "2|seedmatch:standard input:1:18: file ends where position z of seed 0 was expected\n|"},
      {kGood, "/dev/stdin", tooShort,
       "2|seedmatch:/dev/stdin:1:18: file ends where position z of seed 0 was expected\n|"},
      {"-", "-", good,
       "2|seedmatch: - (standard input) can stand for only one of the two seed files\n|"},
      // Weights given first: the names look like numbers.
      {"1", "0.5", "cd " + quoted(testing::TempDir()) + " && ",
       "2|seedmatch:1: cannot open: no such file (the two seed files come first, then the four "
       "weights)\n|"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(fileOutcome(c.file1, c.file2, c.before), c.outcome) << c.file1 << " " << c.file2;
}

// Closed standard input, one stream under two names, options among the arguments, odd bytes
// and names: each fails with its one line (timeout turns a hang into status 124).
TEST(CliErrors, HostileInvocations) {
  const std::string dir = testing::TempDir(), fifo = dir + "cli_fifo." + std::to_string(::getpid()),
                    bom = dir + "cli_bom." + std::to_string(::getpid()) + ".seeds";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::ofstream(bom, std::ios::binary) << "\xef\xbb\xbf" << readFile(kGood);
  const std::string both = "cat " + quoted(kGood) + " " + quoted(kGood) + " | ";
  const auto same = [](const std::string& second, const std::string& first) {
    return "2|seedmatch:" + second + ": is the same stream as " + first +
           ", which can stand for only one of the two seed files\n|";
  };
  const auto unknown = [](const std::string& option) {
    return "2|seedmatch: unknown option " + option +
           " (--help and --version come alone); usage: seedmatch FILE1 FILE2 SEED_WEIGHT "
           "HIST_WEIGHT RPD_WEIGHT COST_LIMIT\n|";
  };
  const std::pair<std::string, std::string> cases[] = {
      // the arguments before the weights, the outcome
      {"<&- " + quoted(kGood) + " -",
       "2|seedmatch:standard input: cannot open: bad file descriptor\n|"},
      {"- /dev/stdin", same("/dev/stdin", "standard input")},
      {"/dev/stdin -", same("standard input", "/dev/stdin")},
      {quoted(fifo) + " " + quoted(fifo), same(fifo, fifo)},
      {"--help a b", unknown("--help")},
      {quoted(kGood) + " -x", unknown("-x")},
      {"'' " + quoted(kGood), "2|seedmatch:'': cannot open: no such file\n|"},
      {quoted(bom) + " " + quoted(kGood),
       "2|seedmatch:" + bom +
           ":1:1: expected seed count (an integer), found '\\xef\\xbb\\xbf3' "
           "(a UTF-8 byte-order mark; save the file without one)\n|"},
  };
  for (const auto& [args, outcome] : cases)
    EXPECT_EQ(seedmatch::test::run(both + "timeout 10 " + quoted(SEEDMATCH_EXE) + " " + args +
                                   " 1 0.5 1 2"),
              outcome)
        << args;
  std::remove(fifo.c_str());
  std::remove(bom.c_str());
}

// A header whose distances cannot fit fails at once, even from an endless pipe.
TEST(CliErrors, SeedCountBeyondMemoryFailsAtTheHeader) {
  const auto endless = [](int seeds) {
    return "{ echo " + std::to_string(seeds) + " 0 0 0 0 0 0; yes 1; } | ";
  };
  const auto expected = [](int seeds, const char* size) {
    return "2|seedmatch:standard input:1:1: the distances of " + std::to_string(seeds) +
           " seeds need " + size + ", more than this process can have\n|";
  };
  const double memory =
      static_cast<double>(::sysconf(_SC_PHYS_PAGES)) * static_cast<double>(::sysconf(_SC_PAGESIZE));
  if (memory < 28.8e9) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(fileOutcome(kGood, "-", endless(60000)), expected(60000, "28.8 GB"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  }
#ifndef SEEDMATCH_SHADOW_MEMORY
  EXPECT_EQ(fileOutcome(kGood, "-", "ulimit -v 400000; " + endless(9000)),
            expected(9000, "648 MB"));
#endif
}

#ifndef SEEDMATCH_SHADOW_MEMORY
// Valid files too large for the memory allowed: one line and status 2, not an abort.
TEST(CliErrors, OutOfMemoryIsAnError) {
  std::string seeds = "2000 0 0 0 0 0 0\n", distances;
  for (int j = 0; j < 2000; ++j) distances += "1 ";
  for (int i = 0; i < 2000; ++i)
    seeds += "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 1 1 1 2000 " + distances + "\n";
  std::ofstream(kPath) << seeds;
  EXPECT_EQ(fileOutcome(kPath, kPath, "ulimit -v 48000; exec "), "2|seedmatch: out of memory\n|");
  std::remove(kPath.c_str());
}
#endif

TEST(CliErrors, FileWithoutReadPermission) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions are not enforced for root";
  std::ofstream(kPath) << "0 0 0 0 0 0 0\n";
  ASSERT_EQ(::chmod(kPath.c_str(), 0), 0);
  EXPECT_EQ(fileOutcome(kGood, kPath),
            "2|seedmatch:" + kPath + ": cannot open: permission denied\n|");
  std::remove(kPath.c_str());
}

// seedmatch with its output on /dev/full or on a pipe whose reader has gone,
// SIGPIPE at its default or ignored: "status N|ERR" or "signal N|ERR".
std::string runWithOutput(std::vector<const char*> args, bool fullDevice, bool ignorePipe) {
  const std::string errPath = testing::TempDir() + "output_test." + std::to_string(::getpid());
  int out[2];
  if (pipe(out) != 0) return "pipe failed";
  close(out[0]);
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGPIPE, ignorePipe ? SIG_IGN : SIG_DFL);
    dup2(fullDevice ? open("/dev/full", O_WRONLY) : out[1], 1);
    dup2(open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
    args.insert(args.begin(), SEEDMATCH_EXE);
    args.push_back(nullptr);
    execv(SEEDMATCH_EXE, const_cast<char* const*>(args.data()));
    _exit(127);
  }
  close(out[1]);
  int status = 0;
  waitpid(pid, &status, 0);
  return (WIFEXITED(status)
              ? "status " + std::to_string(WEXITSTATUS(status))
              : "signal " + std::to_string(WTERMSIG(status)) + (WCOREDUMP(status) ? " core" : "")) +
         "|" + readFile(errPath);
}

TEST(Output, FullDevicesAndClosedPipes) {
  const std::string dir = SEEDMATCH_SOURCE_DIR "/examples/", a = dir + "three_a.seeds",
                    b = dir + "three_b.seeds", longA = dir + "forty_a.seeds",
                    longB = dir + "forty_b.seeds";
  // A report, one that fills the output buffer more than once, the line for no pairs, help and
  // version.
  const std::vector<std::vector<const char*>> commands = {
      {a.c_str(), b.c_str(), "1", "1", "1", "100"},
      {longA.c_str(), longB.c_str(), "1", "1", "1", "1e9"},
      {a.c_str(), b.c_str(), "1", "1", "1", "0"},
      {"--help"},
      {"--version"}};
  for (const auto& args : commands) {
    EXPECT_EQ(runWithOutput(args, true, false),
              "status 2|seedmatch: cannot write standard output: no space left on device\n")
        << args[0];
    // Quietly, as any filter in `... | head`, unless SIGPIPE is ignored.
    EXPECT_EQ(runWithOutput(args, false, false), "signal " + std::to_string(SIGPIPE) + "|")
        << args[0];
    EXPECT_EQ(runWithOutput(args, false, true),
              "status 2|seedmatch: cannot write standard output: broken pipe\n")
        << args[0];
  }
  std::remove((testing::TempDir() + "output_test." + std::to_string(::getpid())).c_str());
}

}  // namespace
