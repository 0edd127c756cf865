// Bad seed files through the real executable: each must end with status 2,
// one line on standard error naming the file and the place, and nothing on
// standard output, in either file position and under a 1 GiB address-space limit.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define SEEDMATCH_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SEEDMATCH_ASAN 1
#endif
#endif

namespace {

using namespace std::string_literals;

const std::string kGood = SEEDMATCH_SOURCE_DIR "/examples/three_a.seeds";

// A one-seed file up to its point counts: header with every length 0,
// position 1 2 3, the twelve discarded integers; 22 tokens of one character,
// so the point counts that follow start at column 45, neibCount at 51.
const std::string kPrefix = "1 0 0 0 0 0 0 1 2 3 0 0 0 0 0 0 0 0 0 0 0 0 ";

struct BadFile {
  std::string name;
  std::string content;
  std::string error;  // what follows "seedmatch:PATH:"
};

const std::vector<BadFile>& badFiles() {
  static const std::vector<BadFile> files = {
      {"empty", "", "1:1: file ends where seed count was expected"},
      {"header-only", "2 1 0 0 0 0 0\n", "2:1: file ends where position x of seed 0 was expected"},
      {"header-cut", "2 1 0\n", "2:1: file ends where descriptor length 2 was expected"},
      {"cut-in-position", "1 0 0 0 0 0 0 1 2",
       "1:18: file ends where position z of seed 0 was expected"},
      {"cut-in-discarded", "1 0 0 0 0 0 0 1 2 3 0",
       "1:22: file ends where second integer ahead of descriptor 0 of seed 0 was expected"},
      {"cut-in-descriptor", "1 2 0 0 0 0 0 1 2 3 0 0 0.5",
       "1:28: file ends where value 1 of descriptor 0 of seed 0 was expected"},
      {"cut-in-points", kPrefix + "7", "1:46: file ends where point count 1 of seed 0 was expected"},
      {"cut-before-neibcount", kPrefix + "7 8 9",
       "1:50: file ends where neibCount of seed 0 was expected"},
      {"cut-in-distances", kPrefix + "7 8 9 2 0.5\n",
       "2:1: file ends where distance 1 of seed 0 was expected"},
      {"real-seed-count", "1.0 0 0 0 0 0 0", "1:1: expected seed count (an integer), found '1.0'"},
      {"real-desc-length", "1 0 0 2.5 0 0 0",
       "1:7: expected descriptor length 2 (an integer), found '2.5'"},
      {"real-discarded", "1 0 0 0 0 0 0 1 2 3 0 0 0 0 0 0 0 0 1e2",
       "1:37: expected first integer ahead of descriptor 4 of seed 0 (an integer), found '1e2'"},
      {"real-point-count", kPrefix + "7 8.0 9",
       "1:47: expected point count 1 of seed 0 (an integer), found '8.0'"},
      {"real-neibcount", kPrefix + "7 8 9 1.0 0",
       "1:51: expected neibCount of seed 0 (an integer), found '1.0'"},
      {"letters", kPrefix + "7 8 9 1 abc",
       "1:53: expected distance 0 of seed 0 (a real number), found 'abc'"},
      {"lone-sign", "1 0 0 0 0 0 0 - 2 3",
       "1:15: expected position x of seed 0 (a real number), found '-'"},
      {"bare-exponent", kPrefix + "7 8 9 1 1e",
       "1:53: expected distance 0 of seed 0 (a real number), found '1e'"},
      {"nan", "1 0 0 0 0 0 0 nan 2 3",
       "1:15: expected position x of seed 0 (a real number), found 'nan'"},
      {"inf", "1 0 0 0 0 0 0 1 -inf 3",
       "1:17: expected position y of seed 0 (a real number), found '-inf'"},
      {"seed-count-beyond-32-bits", "2147483648 0 0 0 0 0 0",
       "1:1: seed count out of range: '2147483648'"},
      {"neibcount-beyond-32-bits", kPrefix + "7 8 9 4294967297",
       "1:51: neibCount of seed 0 out of range: '4294967297'"},
      {"real-beyond-double", kPrefix + "7 8 9 1 1e309",
       "1:53: distance 0 of seed 0 out of range: '1e309'"},
      {"negative-desc-length", "1 0 -3 0 0 0 0", "1:5: descriptor length 1 is negative: -3"},
      {"negative-neibcount", kPrefix + "7 8 9 -1", "1:51: neibCount of seed 0 is negative: -1"},
      {"neibcount-below-seed-count", "2 0 0 0 0 0 0 1 2 3 0 0 0 0 0 0 0 0 0 0 0 0 7 8 9 1 0.0",
       "1:51: neibCount of seed 0 is 1, fewer than the 2 seeds of the file"},
      {"claims-2e9-seeds", "2000000000 0 0 0 0 0 0\n1 2 3 0 0 0 0 0 0 0 0 0 0 0 0 7 8 9 3 0 1 2\n",
       "2:37: neibCount of seed 0 is 3, fewer than the 2000000000 seeds of the file"},
      {"claims-2e9-seeds-and-distances",
       "2000000000 0 0 0 0 0 0\n1 2 3 0 0 0 0 0 0 0 0 0 0 0 0 7 8 9 2000000000 0 1 2\n",
       "3:1: file ends where distance 3 of seed 0 was expected"},
      {"claims-2e9-distances", kPrefix + "7 8 9 2000000000 0.5 0.5",
       "1:69: file ends where distance 2 of seed 0 was expected"},
      {"claims-2e9-descriptor-values", "1 2000000000 0 0 0 0 0 1 2 3 0 0 0.5 0.5",
       "1:41: file ends where value 2 of descriptor 0 of seed 0 was expected"},
      {"nul-bytes", "1 0 \0\0 0 0 0 0"s,
       "1:5: expected descriptor length 1 (an integer), found '\\x00\\x00'"},
      {"binary", "\x7f" "ELF\x02\x01\x01\0\0\0\0\n\x03\0>\0"s,
       "1:1: expected seed count (an integer), found '\\x7fELF\\x02\\x01\\x01\\x00\\x00\\x00\\x00'"},
      {"one-long-token", std::string(3'000'000, '5'),
       "1:1: expected seed count, found a token of 1048576 bytes or more"},
  };
  return files;
}

// Valid files at the edges of the format: each must load and complete the run.
const std::vector<std::pair<std::string, std::string>>& validFiles() {
  static const std::vector<std::pair<std::string, std::string>> files = [] {
    std::ifstream in(kGood);
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string three = buffer.str();
    auto replaced = [&](char from, const std::string& to) {
      std::string text;
      for (char c : three) text += c == from ? to : std::string(1, c);
      return text;
    };
    const std::string zeros = "0 0 0 0 0 0 0 0 0 0 0 0";
    return std::vector<std::pair<std::string, std::string>>{
        {"no-seeds", "0 8 4 4 2 3 2\n"},
        {"negative-seed-count", "-1 0 0 0 0 0 0"},
        {"zero-lengths", "2 0 0 0 0 0 0\n1 2 3 " + zeros + " 7 8 9 2 0 1.5\n4 5 6 " + zeros +
                             " 7 8 9 2 1.5 0\n"},
        {"trailing-tokens", three + "\ntrailing junk nan \x01\n"},
        {"crlf", replaced('\n', "\r\n")},
        {"no-final-newline", three.substr(0, three.size() - 1)},
        {"one-line", replaced('\n', " ")},
        {"one-token-per-line", replaced(' ', "\n")},
    };
  }();
  return files;
}

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

class CliErrors : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "cli_errors.XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::string write(const std::string& name, const std::string& content) const {
    const std::string path = dir_ + "/" + name + ".seeds";
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  static std::string quoted(const std::string& text) { return "'" + text + "'"; }

  // Runs a shell command line with the outputs sent to files of the test directory.
  Result run(const std::string& command) const {
    const std::string out = dir_ + "/stdout";
    const std::string err = dir_ + "/stderr";
    const int raw = std::system((command + " >" + quoted(out) + " 2>" + quoted(err)).c_str());
    Result result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = slurp(out);
    result.err = slurp(err);
    return result;
  }

  static std::string seedmatch(const std::string& file1, const std::string& file2) {
    return quoted(SEEDMATCH_EXE) + " " + quoted(file1) + " " + quoted(file2) + " 1 0.5 1 2";
  }

  static std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
  }

  static void expectError(const Result& result, const std::string& line) {
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err, line + "\n");
    EXPECT_EQ(result.out, "");
  }

  std::string dir_;
};

TEST_F(CliErrors, BadFileFirst) {
  for (const BadFile& bad : badFiles()) {
    SCOPED_TRACE(bad.name);
    const std::string path = write(bad.name, bad.content);
    expectError(run(seedmatch(path, kGood)), "seedmatch:" + path + ":" + bad.error);
  }
}

TEST_F(CliErrors, BadFileSecond) {
  for (const BadFile& bad : badFiles()) {
    SCOPED_TRACE(bad.name);
    const std::string path = write(bad.name, bad.content);
    expectError(run(seedmatch(kGood, path)), "seedmatch:" + path + ":" + bad.error);
  }
}

// With 1 GiB of address space, a reader that sized anything by a count the
// file claims would run out of memory instead of reporting the file.
TEST_F(CliErrors, BadFileUnderAddressSpaceLimit) {
#ifdef SEEDMATCH_ASAN
  GTEST_SKIP() << "the address sanitizer reserves more address space than the limit";
#else
  for (const BadFile& bad : badFiles()) {
    SCOPED_TRACE(bad.name);
    const std::string path = write(bad.name, bad.content);
    const std::string command = "ulimit -v 1048576; exec " + seedmatch(kGood, path);
    expectError(run("sh -c " + quoted(command)), "seedmatch:" + path + ":" + bad.error);
  }
#endif
}

TEST_F(CliErrors, BadFileThroughAPipe) {
  const std::string path = write("cut", kPrefix + "7 8 9 2 0.5\n");
  expectError(run("cat " + quoted(path) + " | " + seedmatch("/dev/stdin", kGood)),
              "seedmatch:/dev/stdin:2:1: file ends where distance 1 of seed 0 was expected");
}

TEST_F(CliErrors, FilesThatCannotBeOpened) {
  const std::string missing = dir_ + "/missing.seeds";
  expectError(run(seedmatch(missing, kGood)), "seedmatch:" + missing + ": cannot open: no such file");
  expectError(run(seedmatch(kGood, dir_)), "seedmatch:" + dir_ + ": cannot open: is a directory");
}

TEST_F(CliErrors, FileWithoutReadPermission) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions are not enforced for root";
  const std::string path = write("locked", kPrefix + "7 8 9 1 0\n");
  ASSERT_EQ(::chmod(path.c_str(), 0), 0);
  expectError(run(seedmatch(kGood, path)), "seedmatch:" + path + ": cannot open: permission denied");
}

TEST_F(CliErrors, ValidEdgeCasesCompleteTheRun) {
  for (const auto& [name, content] : validFiles()) {
    SCOPED_TRACE(name);
    const std::string path = write(name, content);
    for (const auto& command : {seedmatch(path, kGood), seedmatch(kGood, path)}) {
      const Result result = run(command);
      EXPECT_EQ(result.status, 1);
      EXPECT_EQ(result.err, "");
    }
  }
  const Result piped = run("cat " + quoted(kGood) + " | " + seedmatch("/dev/stdin", kGood));
  EXPECT_EQ(piped.status, 1);
  EXPECT_EQ(piped.err, "");
}

}  // namespace
