#include "seed/seed.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace seedmatch {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::vector<double> zeros(std::size_t n) { return std::vector<double>(n, 0.0); }

SEED recordWith(std::vector<double> dist, std::int32_t neibCount) {
  SEED seed{};
  seed.pos[0] = 1.0;
  seed.pos[1] = 2.0;
  seed.pos[2] = 3.0;
  seed.desc[0] = {0.5, 0.25};
  seed.pts[0] = 10;
  seed.pts[1] = 20;
  seed.pts[2] = 30;
  seed.neibCount = neibCount;
  seed.neibDist = std::move(dist);
  return seed;
}

// Field by field, doubles compared by their bits (so NaN equals NaN and -0.0 differs from 0.0).
bool sameBits(const std::vector<double>& a, const std::vector<double>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::bit_cast<std::uint64_t>(a[i]) != std::bit_cast<std::uint64_t>(b[i])) return false;
  }
  return true;
}

void expectSameSeed(const SEED& a, const SEED& b) {
  EXPECT_TRUE(sameBits({a.pos[0], a.pos[1], a.pos[2]}, {b.pos[0], b.pos[1], b.pos[2]}));
  for (std::size_t d = 0; d < 6; ++d) EXPECT_TRUE(sameBits(a.desc[d], b.desc[d])) << "desc " << d;
  EXPECT_EQ(a.pts[0], b.pts[0]);
  EXPECT_EQ(a.pts[1], b.pts[1]);
  EXPECT_EQ(a.pts[2], b.pts[2]);
  EXPECT_EQ(a.neibCount, b.neibCount);
  EXPECT_TRUE(sameBits(a.neibDist, b.neibDist));
  EXPECT_TRUE(sameBits(a.neibHist, b.neibHist));
}

void expectSameSet(const SeedSet& a, const SeedSet& b) {
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) expectSameSeed(a[i], b[i]);
}

// ---- the record ----

TEST(SeedRecord, CopyIsIndependentOfItsSource) {
  SEED source = recordWith({1.0, 2.0}, 2);
  SEED copy = source;
  copy.neibDist[0] = 9.0;
  copy.desc[0][1] = 9.0;
  EXPECT_EQ(source.neibDist, (std::vector<double>{1.0, 2.0}));
  EXPECT_EQ(source.desc[0], (std::vector<double>{0.5, 0.25}));
  source.neibDist[1] = 7.0;
  EXPECT_EQ(copy.neibDist, (std::vector<double>{9.0, 2.0}));
}

TEST(SeedRecord, SelfAssignmentKeepsEveryField) {
  SEED seed = recordWith({1.0, 2.0}, 2);
  NeibDis(seed);
  const SEED before = seed;
  SEED& alias = seed;
  seed = alias;
  expectSameSeed(seed, before);
}

TEST(SeedRecord, AssignmentFromShorterSourceTakesItsLength) {
  SEED target = recordWith({1.0, 2.0, 3.0, 4.0}, 4);
  const SEED source = recordWith({5.0}, 1);
  target = source;
  EXPECT_EQ(target.neibDist, (std::vector<double>{5.0}));
  EXPECT_EQ(target.neibCount, 1);
}

// ---- the histogram ----

// One distance per row; the bin it lands in, or -1 when it is skipped.
TEST(NeibDis, EachDistanceLandsInItsBin) {
  const struct {
    double v;
    int bin;
  } cases[] = {
      {0.0, 0},   {-0.0, 0},  {0.999, 0},  {-3.0, 0},    {-kInf, 0},    {1.0, 1},  {2.5, 2},
      {39.999, 39}, {40.0, -1}, {40.5, -1}, {1e300, -1}, {kInf, -1}, {kNaN, -1},
  };
  for (const auto& c : cases) {
    SEED seed = recordWith({c.v}, 1);
    NeibDis(seed);
    std::vector<double> expected = zeros(kHistBins);
    if (c.bin >= 0) expected[static_cast<std::size_t>(c.bin)] = 1.0;
    EXPECT_EQ(seed.neibHist, expected) << "distance " << c.v;
  }
}

TEST(NeibDis, WeighsEachHitByNeibCount) {
  SEED seed = recordWith({0.0, 1.5, 1.7, 45.0}, 4);
  NeibDis(seed);
  std::vector<double> expected = zeros(kHistBins);
  expected[0] = 0.25;
  expected[1] = 0.5;
  EXPECT_EQ(seed.neibHist, expected);
}

TEST(NeibDis, AddsTheQuotientOncePerHit) {
  // Ten additions of 0.1 give 0.9999999999999999, not the 1.0 of 10 * 0.1.
  SEED seed = recordWith(std::vector<double>(10, 5.5), 10);
  NeibDis(seed);
  EXPECT_EQ(seed.neibHist[5], 0.9999999999999999);
}

TEST(NeibDis, UsesNeibCountNotTheNumberOfEntries) {
  SEED seed = recordWith({3.0}, 4);
  NeibDis(seed);
  EXPECT_EQ(seed.neibHist[3], 0.25);
}

TEST(NeibDis, EmptyDistancesGiveFortyZeros) {
  SEED seed = recordWith({}, 0);
  seed.neibHist = {1.0, 2.0, 3.0};
  NeibDis(seed);
  EXPECT_EQ(seed.neibHist, zeros(kHistBins));
}

TEST(NeibDis, RunningTwiceRebuildsRatherThanAdds) {
  SEED seed = recordWith({0.5, 12.0}, 2);
  seed.neibHist = zeros(7);
  NeibDis(seed);
  const std::vector<double> once = seed.neibHist;
  NeibDis(seed);
  EXPECT_EQ(seed.neibHist, once);
  ASSERT_EQ(once.size(), 40u);
  EXPECT_EQ(once[0], 0.5);
  EXPECT_EQ(once[12], 0.5);
}

// ---- the reader: valid files ----

constexpr const char* kOneSeed =
    "1 1 0 0 0 0 0 1.0 2.0 3.0 5 5 0.5 0 0 0 0 0 0 0 0 0 0 10 20 30 1 0.0";

// A one-seed file up to its neibCount: header with every length 0, position
// 1 2 3, the twelve discarded integers. 22 tokens of one character: the
// point counts that follow start at column 45, neibCount at 51.
const std::string kPrefix = "1 0 0 0 0 0 0 1 2 3 0 0 0 0 0 0 0 0 0 0 0 0 ";

SeedSet load(std::string_view text) {
  SeedSet seeds;
  const auto error = readSeedText(text, "t.seeds", seeds);
  EXPECT_FALSE(error) << (error ? formatReadError(*error) : "");
  return seeds;
}

TEST(ReadSeed, LoadsTheOneSeedFile) {
  const SeedSet seeds = load(kOneSeed);
  ASSERT_EQ(seeds.size(), 1u);
  const SEED& s = seeds[0];
  EXPECT_EQ(s.pos[0], 1.0);
  EXPECT_EQ(s.pos[1], 2.0);
  EXPECT_EQ(s.pos[2], 3.0);
  EXPECT_EQ(s.desc[0], (std::vector<double>{0.5}));
  for (std::size_t d = 1; d < 6; ++d) EXPECT_TRUE(s.desc[d].empty());
  EXPECT_EQ(s.pts[0], 10);
  EXPECT_EQ(s.pts[1], 20);
  EXPECT_EQ(s.pts[2], 30);
  EXPECT_EQ(s.neibCount, 1);
  EXPECT_EQ(s.neibDist, (std::vector<double>{0.0}));
  std::vector<double> hist = zeros(kHistBins);
  hist[0] = 1.0;
  EXPECT_EQ(s.neibHist, hist);
}

// Two seeds with every descriptor slot used, in several layouts.
constexpr const char* kTwoSeedTokens[] = {
    "2", "1", "2", "0", "1", "0", "1",
    "1.5", "-2", "3e1", "7", "8", "0.25", "0", "0", "-1", "1.5e-3", "0", "0", "0", "0", "4",
    "0", "0", "0", "0", "9", "5", "6", "7", "2", "0", "13.5",
    "4", "5", "6", "0", "0", "1", "0", "0", "2", "3", "0", "0", "0", "0", "5", "0", "0", "0", "0", "6",
    "100", "200", "300", "3", "13.5", "0", "-4",
};

std::string joined(const char* separator, const char* end) {
  std::string text;
  for (const char* token : kTwoSeedTokens) {
    if (!text.empty()) text += separator;
    text += token;
  }
  return text + end;
}

TEST(ReadSeed, EveryLayoutLoadsTheSameSeeds) {
  const SeedSet reference = load(joined(" ", "\n"));
  ASSERT_EQ(reference.size(), 2u);
  EXPECT_EQ(reference[0].desc[1], (std::vector<double>{-1.0, 1.5e-3}));
  EXPECT_EQ(reference[1].neibDist, (std::vector<double>{13.5, 0.0, -4.0}));
  EXPECT_EQ(reference[1].neibHist[0], 2.0 / 3.0);  // 0.0 and -4.0, each weighted 1/3

  std::string perSeed = joined(" ", "\n");
  perSeed[perSeed.find(" 1.5 ")] = '\n';
  perSeed[perSeed.find(" 4 5 6 ")] = '\n';
  const std::string layouts[] = {
      perSeed,
      joined("\n", "\n"),
      joined(" ", ""),
      joined("\t", "\t\n"),
      joined("\r\n", "\r\n"),
      joined(" \v\f\t ", ""),
      "\n\n  " + joined("   ", "\n\n\n"),
  };
  for (const std::string& text : layouts) {
    SCOPED_TRACE(text);
    expectSameSet(load(text), reference);
  }
}

TEST(ReadSeed, NoBlocksForCountZeroOrBelow) {
  for (const char* text : {"0 1 0 0 0 0 0", "-5 3 3 3 3 3 3 1.0 junk"}) {
    SeedSet seeds = load(kOneSeed);
    const auto error = readSeedText(text, "t.seeds", seeds);
    EXPECT_FALSE(error);
    EXPECT_EQ(seeds.size(), 1u);
  }
}

TEST(ReadSeed, AppendsBehindRecordsAlreadyHeld) {
  SeedSet seeds = load(joined(" ", ""));
  ASSERT_FALSE(readSeedText(kOneSeed, "t.seeds", seeds));
  ASSERT_EQ(seeds.size(), 3u);
  EXPECT_EQ(seeds[0].pos[0], 1.5);
  EXPECT_EQ(seeds[1].pos[0], 4.0);
  EXPECT_EQ(seeds[2].pts[0], 10);
}

TEST(ReadSeed, ShortBlockAfterLongOneKeepsItsOwnLength) {
  const SeedSet seeds = load(
      "2 0 0 0 0 0 0\n"
      "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 1 1 1 4 1 2 3 4\n"
      "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 1 1 1 2 5 6\n");
  ASSERT_EQ(seeds.size(), 2u);
  EXPECT_EQ(seeds[0].neibDist, (std::vector<double>{1.0, 2.0, 3.0, 4.0}));
  EXPECT_EQ(seeds[1].neibDist, (std::vector<double>{5.0, 6.0}));
  EXPECT_EQ(seeds[1].neibHist[5], 0.5);
  EXPECT_EQ(seeds[1].neibHist[1], 0.0);
}

TEST(ReadSeed, TokensAfterTheLastBlockAreNotRead) {
  const SeedSet reference = load(kOneSeed);
  for (const char* tail : {" 7 8 9", " nan garbage \x01\x02", " 1e999999", " -"}) {
    expectSameSet(load(std::string(kOneSeed) + tail), reference);
  }
}

// Every token converts to what formatted extraction gives for it.
TEST(ReadSeed, RealsEqualStreamExtraction) {
  const std::vector<std::string> tokens = {
      "0", "-0", "+0", "-0.0", "1", "+1", "-1", "1.", "-1.", ".5", "-.5", "+.5", "0.1", "1e3",
      "1E3", "1e+3", "1e-3", "+1.5e-3", "-2.5E+10", "00012.5000", "1.e5",
      "3.141592653589793238462643383279", "123456789012345678901234567890",
      "9007199254740993",          // halfway between two doubles: ties to even
      "1.7976931348623157e308",    // largest double
      "1.7976931348623158e308",    // rounds down to it
      "2.2250738585072014e-308",   // smallest normal
      "2.2250738585072011e-308",   // largest subnormal
      "1e-310", "-1e-310", "4.9406564584124654e-324",  // smallest subnormal
      "2.4703282292062328e-324",   // just above half of it: rounds up
      "2.4703282292062327e-324",   // just below half: rounds to zero
      "1e-400", "-1e-400", "0.000000000000000000000000000001e-300",
  };
  std::string text = kPrefix + "0 0 0 " + std::to_string(tokens.size());
  for (const auto& token : tokens) text += " " + token;
  const SeedSet seeds = load(text);
  ASSERT_EQ(seeds.size(), 1u);
  ASSERT_EQ(seeds[0].neibDist.size(), tokens.size());
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    std::istringstream in(tokens[i]);
    double expected = kNaN;
    in >> expected;
    ASSERT_FALSE(in.fail()) << tokens[i];
    EXPECT_EQ(std::bit_cast<std::uint64_t>(seeds[0].neibDist[i]), std::bit_cast<std::uint64_t>(expected))
        << tokens[i];
  }
  EXPECT_TRUE(std::signbit(seeds[0].neibDist[tokens.size() - 2]));  // -1e-400 is -0.0
  EXPECT_EQ(seeds[0].neibDist[tokens.size() - 3], 0.0);
}

TEST(ReadSeed, IntegersEqualStreamExtraction) {
  const std::string tokens[] = {"0", "-0", "+0", "7", "+7", "-7", "007", "2147483647",
                                "+2147483647", "-2147483648"};
  for (const auto& token : tokens) {
    const SeedSet seeds = load(kPrefix + "0 0 " + token + " 1 0");
    std::istringstream in(token);
    int expected = 12345;
    in >> expected;
    ASSERT_EQ(seeds.size(), 1u);
    EXPECT_EQ(seeds[0].pts[2], expected) << token;
  }
}

// ---- the reader: files and pipes ----

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "seed_test.XXXXXX").string();
    path_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  std::string write(const std::string& name, const std::string& content) const {
    const std::string file = path_ + "/" + name;
    std::ofstream(file, std::ios::binary) << content;
    return file;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// One seed holding count distances of assorted lengths, so that tokens
// straddle every read boundary.
std::string longSeed(int count) {
  std::string text = kPrefix + "0 0 0 " + std::to_string(count);
  for (int j = 0; j < count; ++j) {
    text += j % 7 == 0 ? "\n" : " ";
    text += std::to_string(j % 45) + (j % 3 == 0 ? ".125" : j % 3 == 1 ? "e-1" : "");
  }
  return text;
}

TEST(ReadSeed, FileLargerThanItsBufferLoadsAsFromMemory) {
  const TempDir dir;
  const std::string text = longSeed(400000);  // about 2.3 MB
  SeedSet fromFile;
  ASSERT_FALSE(readSeed(dir.write("long.seeds", text), fromFile));
  expectSameSet(fromFile, load(text));
}

TEST(ReadSeed, PositionsCountLinesAcrossBufferRefills) {
  const TempDir dir;
  std::string text = longSeed(400000);
  text.replace(text.find(" 400000"), 7, " 400001");
  text += "\n\t x";
  const auto lines = std::count(text.begin(), text.end(), '\n') + 1;
  SeedSet seeds;
  const auto error = readSeed(dir.write("bad.seeds", text), seeds);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->line, lines);
  EXPECT_EQ(error->column, 3);
  EXPECT_EQ(error->message, "expected distance 400000 of seed 0 (a real number), found 'x'");
}

TEST(ReadSeed, ReadsFromAPipeInSmallPieces) {
  const std::string text = longSeed(30000);
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  std::thread writer([&] {
    for (std::size_t at = 0; at < text.size(); at += 997) {
      const std::size_t n = std::min<std::size_t>(997, text.size() - at);
      if (::write(ends[1], text.data() + at, n) != static_cast<ssize_t>(n)) break;
    }
    ::close(ends[1]);
  });
  SeedSet fromPipe;
  const auto error = readSeed("/dev/fd/" + std::to_string(ends[0]), fromPipe);
  writer.join();
  ::close(ends[0]);
  ASSERT_FALSE(error) << formatReadError(*error);
  expectSameSet(fromPipe, load(text));
}

TEST(ReadSeed, TokenLongerThanTheBufferIsRejectedFromAFile) {
  const TempDir dir;
  const std::string path = dir.write("long.seeds", "1 0 0 0 0\n0 0 " + std::string(1 << 21, '7'));
  SeedSet seeds;
  const auto error = readSeed(path, seeds);
  ASSERT_TRUE(error);
  EXPECT_EQ(formatReadError(*error),
            "seedmatch:" + path + ":2:5: expected position x of seed 0, found a token of 1048576 bytes or more");
}

TEST(ReadSeed, FilesThatCannotBeOpenedSayWhy) {
  const TempDir dir;
  SeedSet seeds;
  auto error = readSeed(dir.path() + "/absent.seeds", seeds);
  ASSERT_TRUE(error);
  EXPECT_EQ(formatReadError(*error), "seedmatch:" + dir.path() + "/absent.seeds: cannot open: no such file");
  error = readSeed(dir.path(), seeds);
  ASSERT_TRUE(error);
  EXPECT_EQ(formatReadError(*error), "seedmatch:" + dir.path() + ": cannot open: is a directory");
}

// ---- the reader: malformed text ----

// Positions and forms beyond the bad-file table run through the executable.
TEST(ReadSeed, ErrorsNameLineColumnAndField) {
  const struct {
    std::string text;
    const char* error;
  } cases[] = {
      {"", "1:1: file ends where seed count was expected"},
      {"  \n\t", "2:2: file ends where seed count was expected"},
      {"1 1 0 0 0 0 0\r\n1.0 2.0", "2:8: file ends where position z of seed 0 was expected"},
      {"1 1 0\n 0\t1.5 0 0", "2:4: expected descriptor length 3 (an integer), found '1.5'"},
      {"99999999999", "1:1: seed count out of range: '99999999999'"},
      {"1 0 0 0 0 0 0 1 2 +-3", "1:19: expected position z of seed 0 (a real number), found '+-3'"},
      {"1 0 0 0 0 0 0 1 2 0x1p3", "1:19: expected position z of seed 0 (a real number), found '0x1p3'"},
      {"1 0 0 0 0 0 0 1 2 3 0 +",
       "1:23: expected second integer ahead of descriptor 0 of seed 0 (an integer), found '+'"},
      {kPrefix + "1 1 1 2 0.5\n-1e400", "2:1: distance 1 of seed 0 out of range: '-1e400'"},
      {kPrefix + "1 1 1 1 " + std::string(50, '9') + "x",
       "1:53: expected distance 0 of seed 0 (a real number), found "
       "'9999999999999999999999999999999999999999'..."},
  };
  for (const auto& c : cases) {
    SeedSet seeds;
    const auto error = readSeedText(c.text, "t.seeds", seeds);
    ASSERT_TRUE(error) << c.text;
    EXPECT_EQ(formatReadError(*error), std::string("seedmatch:t.seeds:") + c.error) << c.text;
    EXPECT_TRUE(seeds.empty());
  }
}

TEST(ReadSeed, EmptyViewIsAnEmptyFile) {
  SeedSet seeds;
  const auto error = readSeedText(std::string_view(), "t.seeds", seeds);
  ASSERT_TRUE(error);
  EXPECT_EQ(formatReadError(*error), "seedmatch:t.seeds:1:1: file ends where seed count was expected");
}

TEST(ReadSeed, BinaryBytesAreShownEscaped) {
  const std::string text("1 0 0 0 0 0 0 1 2 3 0 0 0 \x00\xff\x7f" "abc", 32);
  SeedSet seeds;
  const auto error = readSeedText(text, "t.seeds", seeds);
  ASSERT_TRUE(error);
  EXPECT_EQ(formatReadError(*error),
            "seedmatch:t.seeds:1:27: expected second integer ahead of descriptor 1 of seed 0 "
            "(an integer), found '\\x00\\xff\\x7fabc'");
}

TEST(ReadSeed, NeibCountBelowTheSeedCountIsRejected) {
  SeedSet seeds;
  const auto error = readSeedText(
      "3 0 0 0 0 0 0\n"
      "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 1 1 1 3 0 1 2\n"
      "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 1 1 1 2 1 0\n",
      "t.seeds", seeds);
  ASSERT_TRUE(error);
  EXPECT_EQ(formatReadError(*error),
            "seedmatch:t.seeds:3:37: neibCount of seed 1 is 2, fewer than the 3 seeds of the file");
}

TEST(ReadSeed, FailureLeavesTheSetAsItWas) {
  SeedSet seeds = load(kOneSeed);
  const SeedSet before = seeds;
  // The first block is complete and would have been appended; the second is cut short.
  const auto error = readSeedText(
      "2 0 0 0 0 0 0  0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 1 1 1 2 0 1  0 0 0 0 0", "t.seeds", seeds);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->message, "file ends where first integer ahead of descriptor 1 of seed 1 was expected");
  expectSameSet(seeds, before);
}

TEST(ReadSeed, LongTokensInMemoryHaveNoLengthLimit) {
  const SeedSet seeds = load(std::string(kOneSeed, std::strlen(kOneSeed) - 3) + "0." +
                             std::string(2 << 20, '0') + "1");
  ASSERT_EQ(seeds.size(), 1u);
  EXPECT_EQ(seeds[0].neibDist[0], 0.0);  // 1e-2097154 underflows to zero
}

}  // namespace
}  // namespace seedmatch
