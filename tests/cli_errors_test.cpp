// Seed files through the real executable. A bad one must end the run with
// status 2, its one error line on standard error and nothing on standard
// output, in either file position and under a 1 GiB address-space limit; a
// valid one must complete the run.
#include <sys/stat.h>

#include "support.h"

#if defined(__SANITIZE_ADDRESS__)
#define SEEDMATCH_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SEEDMATCH_ASAN 1
#endif
#endif

namespace {

using seedmatch::test::quoted;

const std::string kGood = SEEDMATCH_SOURCE_DIR "/examples/three_a.seeds";
const std::string kPath = testing::TempDir() + "cli_errors." + std::to_string(::getpid()) + ".seeds";

// The outcome of a run on the two files, without the report of a completed run.
std::string outcome(const std::string& file1, const std::string& file2, const std::string& before = "") {
  const std::string r = seedmatch::test::run(before + quoted(SEEDMATCH_EXE) + " " + quoted(file1) + " " + quoted(file2) + " 1 0.5 1 2");
  return r.rfind("1||", 0) == 0 ? "1||" : r;
}

TEST(CliErrors, SeedFileTable) {
  auto cases = seedmatch::test::seedFileCases();
  cases.push_back({std::string(3'000'000, '5'),
                   "seedmatch:FILE:1:1: expected seed count, found a token of 1048576 bytes or more", "one long token"});
  for (const auto& c : cases) {
    std::ofstream(kPath, std::ios::binary) << c.text;
    const auto file = c.expected.find("FILE");
    const std::string expected = c.expected == "valid" ? "1||" : "2|" + c.expected.substr(0, file) + kPath + c.expected.substr(file + 4) + "\n|";
    EXPECT_EQ(outcome(kPath, kGood), expected) << c.where;
    EXPECT_EQ(outcome(kGood, kPath), expected) << c.where;
#ifndef SEEDMATCH_ASAN  // it reserves more address space than the limit
    // A reader that sized anything by a count the file claims would run out of memory.
    EXPECT_EQ(outcome(kGood, kPath, "ulimit -v 1048576; exec "), expected) << c.where;
#endif
  }
  std::remove(kPath.c_str());
}

TEST(CliErrors, PipesAndFilesThatCannotBeOpened) {
  EXPECT_EQ(outcome("/dev/stdin", kGood, "cat " + quoted(kGood) + " | "), "1||");
  EXPECT_EQ(outcome(kGood, "/dev/stdin", "printf '1 0 0 0 0 0 0 1 2' | "),
            "2|seedmatch:/dev/stdin:1:18: file ends where position z of seed 0 was expected\n|");
  EXPECT_EQ(outcome(kPath + ".absent", kGood), "2|seedmatch:" + kPath + ".absent: cannot open: no such file\n|");
  EXPECT_EQ(outcome(kGood, testing::TempDir()), "2|seedmatch:" + testing::TempDir() + ": cannot open: is a directory\n|");
}

TEST(CliErrors, FileWithoutReadPermission) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions are not enforced for root";
  std::ofstream(kPath) << "0 0 0 0 0 0 0\n";
  ASSERT_EQ(::chmod(kPath.c_str(), 0), 0);
  EXPECT_EQ(outcome(kGood, kPath), "2|seedmatch:" + kPath + ": cannot open: permission denied\n|");
  std::remove(kPath.c_str());
}

}  // namespace
