// Helpers shared by the tests: seeds built in place, captured output, commands
// run through the shell, and the cases of the seed-file data table.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "seed/seed.h"

namespace seedmatch::test {

// A seed at pos with the given stored distances (and its histogram), point
// counts 100 and one desc[0] value 1.0, so that it is not empty.
inline SEED makeSeed(double x, double y, double z, std::vector<double> neibDist = {}) {
  SEED seed{};
  seed.pos[0] = x;
  seed.pos[1] = y;
  seed.pos[2] = z;
  seed.desc[0] = {1.0};
  seed.pts[0] = seed.pts[1] = seed.pts[2] = 100;
  seed.neibCount = static_cast<std::int32_t>(neibDist.size());
  seed.neibDist = std::move(neibDist);
  NeibDis(seed);
  return seed;
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Everything print(out) writes to out.
template <class Print>
std::string capture(Print print) {
  std::FILE* file = std::tmpfile();
  if (file == nullptr) return "<tmpfile failed>";
  print(file);
  std::string text;
  std::rewind(file);
  for (int c; (c = std::fgetc(file)) != EOF;) text.push_back(static_cast<char>(c));
  std::fclose(file);
  return text;
}

inline std::string quoted(const std::string& text) {
  std::string result = "'";
  for (char c : text) result += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return result + "'";
}

struct Result {
  int status = -1;
  std::string out, err;
};

// Runs a shell command line, its two outputs captured through files.
inline Result run(const std::string& command) {
  const std::string base = testing::TempDir() + "seedmatch_test." + std::to_string(::getpid());
  const int raw = std::system((command + " >" + base + ".out 2>" + base + ".err").c_str());
  Result result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFile(base + ".out"),
                readFile(base + ".err")};
  std::remove((base + ".out").c_str());
  std::remove((base + ".err").c_str());
  return result;
}

// The cases of tests/data/seed_files.txt: the file text with its escapes
// undone, the expected result, and the data line, for messages.
struct SeedFileCase {
  std::string text, expected, where;
};

inline std::vector<SeedFileCase> seedFileCases() {
  const std::string path = SEEDMATCH_SOURCE_DIR "/tests/data/seed_files.txt";
  std::ifstream in(path);
  std::vector<SeedFileCase> cases;
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (line.empty() || line[0] == '#') continue;
    SeedFileCase c{"", "", "seed_files.txt:" + std::to_string(number)};
    std::size_t i = 1;
    for (; i < line.size() && line[i] != '"'; ++i) {
      if (line[i] != '\\') {
        c.text += line[i];
      } else if (line[++i] == 'x') {
        c.text += static_cast<char>(std::stoi(line.substr(i + 1, 2), nullptr, 16));
        i += 2;
      } else {
        const std::size_t k = std::string("nrtvf").find(line[i]);
        c.text += k == std::string::npos ? line[i] : "\n\r\t\v\f"[k];
      }
    }
    c.expected = line.substr(i + 2);
    cases.push_back(c);
  }
  if (cases.empty()) cases.push_back({"", "<no cases in " + path + ">", path});
  return cases;
}

}  // namespace seedmatch::test
