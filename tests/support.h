#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "seedmatch/matching/matching.h"

namespace seedmatch::test {

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN(),
                        kInf = std::numeric_limits<double>::infinity();

// A seed of these fields, holding the distances given and their histogram.
inline SEED seedOf(std::array<double, 3> pos, std::array<std::vector<double>, 6> desc,
                   std::array<std::int32_t, 3> pts, std::vector<double> dist) {
  const auto count = static_cast<std::int32_t>(dist.size());
  SEED seed{{pos[0], pos[1], pos[2]}, desc, {pts[0], pts[1], pts[2]}, count, dist, {}};
  NeibDis(seed);
  return seed;
}

// A seed at (x, y, z) with these stored distances, point counts 100 and desc[0] = {1.0}, so
// that it is not empty.
inline SEED makeSeed(double x, double y, double z, std::vector<double> neibDist = {}) {
  return seedOf({x, y, z}, {std::vector<double>{1.0}}, {100, 100, 100}, neibDist);
}

using AuctionEngine = AuctionStats (*)(const SeedSet&, const SeedSet&, MatchTable&, double, double,
                                       double, double, const SeedDistWeights&);
inline constexpr AuctionEngine fastAuction = &nModifiedWeightedBipartiteMatching;

// The fast engine on every pair's seedDist and pcal prepared beforehand.
inline AuctionStats preparedAuction(const SeedSet& set1, const SeedSet& set2, MatchTable& table,
                                    double costLimit, double seedWeight, double histWeight,
                                    double rpdWeight, const SeedDistWeights& w) {
  const PairTerms terms = preparePairTerms(set1, set2, w);
  return nModifiedWeightedBipartiteMatching(set1, set2, table, costLimit, seedWeight, histWeight,
                                            rpdWeight, w, {&terms, {}});
}

// Every field of a table by its bits, so that 0.0 and -0.0 differ.
inline std::vector<std::uint64_t> bits(const MatchTable& table) {
  std::vector<std::uint64_t> result;
  for (const MatchRow& r : table)
    result.insert(result.end(),
                  {std::bit_cast<std::uint64_t>(r[0]), std::bit_cast<std::uint64_t>(r[1]),
                   std::bit_cast<std::uint64_t>(r[2])});
  return result;
}

// Every field of every seed, doubles by their bits, so that lengths, -0.0 and NaN all count.
inline std::string dump(const SeedSet& seeds) {
  using V = std::vector<double>;
  std::ostringstream out;
  for (const SEED& s : seeds) {
    out << s.pts[0] << ' ' << s.pts[1] << ' ' << s.pts[2] << ' ' << s.neibCount;
    for (const V& values : {V(s.pos, s.pos + 3), s.desc[0], s.desc[1], s.desc[2], s.desc[3],
                            s.desc[4], s.desc[5], s.neibDist, s.neibHist}) {
      out << '\n';
      for (double v : values) out << std::bit_cast<std::uint64_t>(v) << ' ';
    }
    out << '\n';
  }
  return out.str();
}

inline std::string readFile(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

template <class Print>
std::string capture(Print print) {
  const std::string path = testing::TempDir() + "capture." + std::to_string(::getpid());
  std::FILE* file = std::fopen(path.c_str(), "w");
  print(file);
  std::fclose(file);
  const std::string text = readFile(path);
  std::remove(path.c_str());
  return text;
}

inline std::string load(std::string_view text, const std::string& name = "FILE") {
  SeedSet seeds;
  const auto error = readSeedText(text, name, seeds);
  return error ? formatReadError(*error) : dump(seeds);
}
inline std::string loadFile(const std::string& path) {
  SeedSet seeds;
  const auto error = readSeed(path, seeds);
  return error ? formatReadError(*error) : dump(seeds);
}

inline std::string quoted(const std::string& text) {
  std::string result = "'";
  for (char c : text) result += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return result + "'";
}

// Runs a shell command line: "STATUS|STDERR|STDOUT".
inline std::string run(const std::string& command) {
  const std::string base = testing::TempDir() + "seedmatch_test." + std::to_string(::getpid());
  const int raw = std::system((command + " >" + base + ".out 2>" + base + ".err").c_str());
  const std::string result = std::to_string(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1) + "|" +
                             readFile(base + ".err") + "|" + readFile(base + ".out");
  std::remove((base + ".out").c_str()), std::remove((base + ".err").c_str());
  return result;
}

// The cases of tests/data/seed_files.txt: text with escapes undone, expected result, data line.
struct SeedFileCase {
  std::string text, expected, where;
};

inline std::vector<SeedFileCase> seedFileCases() {
  std::ifstream in(SEEDMATCH_SOURCE_DIR "/tests/data/seed_files.txt");
  std::vector<SeedFileCase> cases;
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    if (++number, line.empty() || line[0] == '#') continue;
    SeedFileCase c{"", "", "seed_files.txt:" + std::to_string(number)};
    std::size_t i = 1;
    for (; i < line.size() && line[i] != '"'; ++i) {
      const std::size_t k = line[i] == '\\' ? std::string("nrtvfx").find(line[++i]) : 99;
      c.text += k == 5  ? static_cast<char>(std::stoi(line.substr(i + 1, 2), nullptr, 16))
                : k < 5 ? "\n\r\t\v\f"[k]
                        : line[i];
      if (k == 5) i += 2;
    }
    c.expected = line.substr(i + 2);
    cases.push_back(c);
  }
  EXPECT_GT(cases.size(), 40u);
  return cases;
}

}  // namespace seedmatch::test
