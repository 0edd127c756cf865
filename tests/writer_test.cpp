// Seed files written and read back: the same seeds, bit for bit, or a refusal
// that leaves no file behind.
#include <sys/stat.h>

#include <cmath>

#include "support.h"

namespace seedmatch {
namespace {

using test::dump, test::kInf, test::kNaN, test::loadFile, test::seedOf;
using V = std::vector<double>;

constexpr double kMin = std::numeric_limits<double>::denorm_min();
constexpr double kMax = std::numeric_limits<double>::max();

std::string readBack(const std::string& text) {
  SeedSet seeds;
  const auto error = readSeedText(text, "TEXT", seeds);
  return error ? formatReadError(*error) : dump(seeds);
}

// Values whose shortest form takes every path of the reader: signed zero,
// subnormals, the extremes, exponents, long fractions.
TEST(WriteSeed, ReadsBackBitForBit) {
  const V awkward{-0.0,
                  kMin,
                  -kMin,
                  2.2250738585072009e-308,
                  kMax,
                  -kMax,
                  0.1,
                  1.0 / 3.0,
                  123456789012345680.0,
                  5e-300,
                  1e23,
                  9007199254740993.0};
  const std::int32_t lo = std::numeric_limits<std::int32_t>::min();
  const std::int32_t hi = std::numeric_limits<std::int32_t>::max();
  const SeedSet cases[] = {
      {},
      {seedOf({1, 2, 3}, {V{0.5}}, {10, 20, 30}, {0.0})},
      {seedOf({-0.0, kMin, kMax}, {awkward, V{}, V{1}, awkward, V{}, V{-2.5}}, {lo, hi, 0},
              {0.0, 1e-320, 39.99999999999999}),
       seedOf({0.1, 0.2, 0.30000000000000004}, {awkward, V{}, V{2}, awkward, V{}, V{7}}, {-1, 0, 1},
              {1e-320, 0.0, 40.0}),
       // More distances than seeds, which the reader also takes.
       seedOf({7, 8, 9}, {awkward, V{}, V{3}, awkward, V{}, V{1e300}}, {5, 5, 5},
              {39.99999999999999, 40.0, 0.0, 12.5, -3.0})},
  };
  for (const SeedSet& seeds : cases) {
    const std::string text = writeSeedText(seeds);
    EXPECT_EQ(readBack(text), dump(seeds)) << text;
  }
  // Doubles of every exponent, from random bits.
  std::uint64_t state = 88172645463325252u;
  V random(4000);
  for (double& v : random) {
    do {
      state ^= state << 13, state ^= state >> 7, state ^= state << 17;
      v = std::bit_cast<double>(state);
    } while (!std::isfinite(v));
  }
  const SeedSet seeds{seedOf({random[0], random[1], random[2]}, {random}, {1, 2, 3}, random)};
  EXPECT_EQ(readBack(writeSeedText(seeds)), dump(seeds));
}

// Seeds no seed file can hold are refused with the reason, naming the seed.
TEST(WriteSeed, RefusesWhatCannotReadBack) {
  const SEED good = seedOf({1, 2, 3}, {V{1}, V{2, 3}}, {1, 1, 1}, {0.0, 1.0});
  const auto changed = [&](auto change) {
    SeedSet seeds{good, good};
    change(seeds[1]);
    return seeds;
  };
  const std::pair<SeedSet, std::string> cases[] = {
      {changed([](SEED& s) { s.desc[1].pop_back(); }),
       "seed 1 has 1 values in desc[1], seed 0 has 2"},
      {changed([](SEED& s) { s.neibCount = 3; }), "seed 1 has neibCount 3 but holds 2 distances"},
      {changed([](SEED& s) { s.neibDist.pop_back(), s.neibCount = 1; }),
       "seed 1 holds 1 distances, fewer than the 2 seeds of the set"},
      {changed([](SEED& s) { s.pos[2] = kNaN; }),
       "seed 1 holds a value that is not finite, which no seed file can hold"},
      {changed([](SEED& s) { s.neibDist[0] = kInf; }),
       "seed 1 holds a value that is not finite, which no seed file can hold"},
  };
  const std::string path = testing::TempDir() + "refused." + std::to_string(::getpid());
  for (const auto& [seeds, message] : cases) {
    EXPECT_EQ(writeSeed(path, seeds), message);
    EXPECT_THROW(writeSeedText(seeds), std::invalid_argument);
    struct stat status {};
    EXPECT_NE(::stat(path.c_str(), &status), 0) << "a file was left for " << message;
  }
}

class WrittenFiles : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = testing::TempDir() + "written." + std::to_string(::getpid());
    ASSERT_EQ(::mkdir(dir_.c_str(), 0755), 0);
  }
  void TearDown() override { std::system(("rm -rf " + test::quoted(dir_)).c_str()); }
  std::string dir_;
  SeedSet seeds_{seedOf({1, 2, 3}, {V{0.1}}, {1, 2, 3}, {0.0, 1.0 / 3.0}),
                 seedOf({4, 5, 6}, {V{-0.0}}, {4, 5, 6}, {1.0 / 3.0, 0.0})};
};

TEST_F(WrittenFiles, PlainAndGzipReadBackAndReplaceWhatWasThere) {
  for (const std::string name : {"frame.seeds", "frame.seeds.gz"}) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path) << "old text";
    ASSERT_EQ(writeSeed(path, seeds_), std::nullopt);
    EXPECT_EQ(loadFile(path), dump(seeds_));
    const std::string bytes = test::readFile(path);
    const bool gzip = bytes.size() > 2 && bytes[0] == '\x1f' && bytes[1] == '\x8b';
    EXPECT_EQ(gzip, name.ends_with(".gz"));
    if (!gzip) {
      EXPECT_EQ(bytes, writeSeedText(seeds_));
    }
  }
  EXPECT_EQ(test::run("ls -A " + test::quoted(dir_)), "0||frame.seeds\nframe.seeds.gz\n");
}

// A failure leaves what was at the path, and no partial file beside it.
TEST_F(WrittenFiles, FailuresSayWhyAndLeaveNothing) {
  const std::string kept = dir_ + "/kept.seeds";
  std::ofstream(kept) << "old text";
  ASSERT_EQ(::chmod(dir_.c_str(), 0555), 0);
  const bool privileged = ::access(dir_.c_str(), W_OK) == 0;
  if (!privileged) {
    EXPECT_EQ(writeSeed(kept, seeds_), "cannot create: permission denied");
  }
  ::chmod(dir_.c_str(), 0755);
  EXPECT_EQ(writeSeed(dir_ + "/missing/frame.seeds", seeds_), "cannot create: no such file");
  EXPECT_EQ(writeSeed(dir_, seeds_), "cannot create: is a directory");
  EXPECT_EQ(writeSeed("/dev/full", seeds_), "cannot write: no space left on device");
  EXPECT_EQ(test::readFile(kept), "old text");
  EXPECT_EQ(test::run("ls -A " + test::quoted(dir_)), "0||kept.seeds\n");
}

}  // namespace
}  // namespace seedmatch
