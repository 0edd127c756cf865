#include <clocale>
#include <cstdlib>

#include "support.h"

namespace seedmatch {

using test::dump, test::kInf, test::kNaN, test::load, test::seedOf;
using V = std::vector<double>;

// Distances and neibCount; the one bin that must hold value, all others 0.0 (-1: all 0.0).
TEST(NeibDis, BinsAndWeights) {
  const struct {
    std::vector<double> dist;
    std::int32_t neibCount;
    int bin;
    double value;
  } cases[] = {
      {{-0.0}, 1, 0, 1.0},
      {{0.999}, 1, 0, 1.0},
      {{-kInf}, 1, 0, 1.0},
      {{1.0}, 1, 1, 1.0},
      {{39.999}, 1, 39, 1.0},
      {{40.0}, 1, -1, 0.0},
      {{kInf}, 1, -1, 0.0},
      {{kNaN}, 1, -1, 0.0},
      {{}, 0, -1, 0.0},
      {{3.0}, 4, 3, 0.25},                  // weighed by neibCount, not by the entries held
      {{1.5, 45.0, 1.7, kNaN}, 4, 1, 0.5},  // skipped entries still count in the weight
      {std::vector<double>(10, 5.5), 10, 5, 0.9999999999999999},  // ten additions of 0.1
  };
  for (const auto& c : cases) {
    SEED seed{{}, {}, {}, c.neibCount, c.dist, {1.0, 2.0, 3.0}};
    NeibDis(seed);
    NeibDis(seed);  // rebuilds, never adds to what is there
    std::vector<double> expected(kHistBins, 0.0);
    if (c.bin >= 0) expected[static_cast<std::size_t>(c.bin)] = c.value;
    EXPECT_EQ(seed.neibHist, expected) << "case " << &c - cases;
  }
}

// A one-seed file up to its point counts: every descriptor length 0, position 1 2 3.
const std::string kPrefix = "1 0 0 0 0 0 0 1 2 3 0 0 0 0 0 0 0 0 0 0 0 0 ";
constexpr const char* kOneSeed =
    "1 1 0 0 0 0 0 1.0 2.0 3.0 5 5 0.5 0 0 0 0 0 0 0 0 0 0 10 20 30 1 0.0";
// Two seeds with every descriptor slot used; the second holds fewer distances than the first.
const std::string kTwoSeeds =
    "2 1 2 0 1 0 1 1.5 -2 3e1 7 8 0.25 0 0 -1 1.5e-3 0 0 0 0 4 0 0 0 0 9 5 6 7 3 13.5 0 -4 "
    "4 5 6 0 0 1 0 0 2 3 0 0 0 0 5 0 0 0 0 6 100 200 300 2 0 13.5";

TEST(ReadSeed, EveryLayoutLoadsTheSameSeeds) {
  SeedSet two{seedOf({1.5, -2, 30}, {V{0.25}, V{-1, 1.5e-3}, V{}, V{4}, V{}, V{9}}, {5, 6, 7},
                     {13.5, 0, -4}),
              seedOf({4, 5, 6}, {V{1}, V{2, 3}, V{}, V{5}, V{}, V{6}}, {100, 200, 300}, {0, 13.5})},
      one{seedOf({1.0, 2.0, 3.0}, {V{0.5}}, {10, 20, 30}, {0.0})};
  EXPECT_EQ(load(kOneSeed), dump(one));
  const auto spaced = [](const std::string& separator, const std::string& end) {
    std::string text;
    for (char c : kTwoSeeds) text += c == ' ' ? separator : std::string(1, c);
    return text + end;
  };
  std::string perSeed = kTwoSeeds;
  perSeed[perSeed.find(" 1.5 ")] = perSeed[perSeed.find(" 4 5 6 ")] = '\n';
  for (const std::string& text :
       {perSeed, spaced("\n", "\n"), spaced("\t", "\t\n"), spaced("\r\n", "\r\n"),
        spaced(" \v\f\t ", ""), "\n\n  " + spaced("   ", "\n\n\n"),
        kTwoSeeds + " 7 8 nan garbage \x01\x02 1e999999 -"}) {
    EXPECT_EQ(load(text), dump(two)) << text;
  }
  ASSERT_FALSE(readSeedText(kOneSeed, "FILE", two));  // appends
  EXPECT_EQ(dump(two), load(kTwoSeeds) + dump(one));
}

TEST(ReadSeed, NumberForms) {
  std::ifstream in(SEEDMATCH_SOURCE_DIR "/tests/data/numbers.txt");
  int cases = 0;
  for (std::string line, kind, token, value; std::getline(in, line);) {
    if (!(std::istringstream(line) >> kind >> token >> value) || kind[0] == '#') continue;
    const double v = std::strtod(value.c_str(), nullptr);
    const bool integer = kind == "int";
    const SEED s = seedOf({1, 2, 3}, {}, {0, 0, integer ? static_cast<std::int32_t>(v) : 0},
                          {integer ? 0.0 : v});
    EXPECT_EQ(load(kPrefix + (integer ? "0 0 " + token + " 1 0" : "0 0 0 1 " + token)), dump({s}))
        << line;
    ++cases;
  }
  EXPECT_GT(cases, 30);
}

// The table of seed files runs through the command (cli_test); in memory, an
// empty text fails and no token is too long: 1e-2097154 underflows to zero.
TEST(ReadSeed, EmptyTextAndLongTokenInMemory) {
  EXPECT_EQ(load(std::string_view()),
            "seedmatch:FILE:1:1: file ends where seed count was expected");
  EXPECT_EQ(load(kPrefix + "0 0 0 1 0." + std::string(2 << 20, '0') + "1"),
            load(kPrefix + "0 0 0 1 0"));
}

// A program may set a locale whose decimal point is a comma: values below the
// normal range, which take the reader's slow path, still read as in the C locale.
TEST(ReadSeed, CommaLocaleReadsTheSameBits) {
  const std::string dir = testing::TempDir() + "locale." + std::to_string(::getpid());
  ASSERT_EQ(std::system(("mkdir -p " + dir + "; localedef -i de_DE -f UTF-8 " + dir +
                         "/de_DE.UTF-8 >/dev/null 2>&1; test -d " + dir + "/de_DE.UTF-8")
                            .c_str()),
            0);
  ::setenv("LOCPATH", dir.c_str(), 1);
  const char* set = std::setlocale(LC_ALL, "de_DE.UTF-8");
  const std::string decimalPoint = std::localeconv()->decimal_point;
  const std::string read =
      load(kPrefix + "0 0 0 5 2.5e-400 4.9e-324 2.2250738585072011e-308 -1e-320 1.5");
  std::setlocale(LC_ALL, "C");
  ::unsetenv("LOCPATH");
  std::system(("rm -rf " + dir).c_str());
  ASSERT_NE(set, nullptr);
  ASSERT_EQ(decimalPoint, ",");
  const V expected{0.0, std::bit_cast<double>(std::uint64_t{1}),
                   std::bit_cast<double>(std::uint64_t{0x000fffffffffffff}),
                   -std::bit_cast<double>(std::uint64_t{2024}), 1.5};
  EXPECT_EQ(read, dump({seedOf({1, 2, 3}, {}, {0, 0, 0}, expected)}));
}

}  // namespace seedmatch
