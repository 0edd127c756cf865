// Seed records, seed sets, the neighbour-distance histogram and the seed file reader.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace seedmatch {

inline constexpr int kHistBins = 40;
inline constexpr std::size_t kDescriptors = 6;  // descriptor vectors of a seed

// What every error line starts with: "seedmatch: what", "seedmatch:FILE: what".
inline constexpr const char* kErrorPrefix = "seedmatch:";

// One object of a seed file. Copies are deep: every vector owns its storage.
struct SEED {
  double pos[3];                                       // x, y, z
  std::array<std::vector<double>, kDescriptors> desc;  // desc[d]: descLen[d] values of its file
  std::int32_t pts[3];                                 // point counts
  std::int32_t neibCount;                              // number of entries in neibDist
  std::vector<double> neibDist;  // distance to seed j of the same file, by index
  std::vector<double> neibHist;  // kHistBins bins once NeibDis has run
};

// Seeds in file order; a seed's index is its place in the file.
using SeedSet = std::vector<SEED>;

// Rebuilds seed.neibHist: kHistBins unit-wide bins of neibDist (negatives and
// -inf in bin 0, 40 and above and NaN skipped), each hit adding 1.0/neibCount.
// Does not throw except on allocation failure.
void NeibDis(SEED& seed);

// Where and why a seed file could not be read. line and column count from 1;
// both are 0 when the problem has no position (the file could not be opened).
struct ReadError {
  std::string path;
  std::int64_t line = 0;
  std::int64_t column = 0;
  std::string message;
};

// "seedmatch:FILE:LINE:COLUMN: message", or "seedmatch:FILE: message" without a position.
std::string formatReadError(const ReadError& error);

// Appends the seeds of the file at path to seeds, each with its histogram.
// Reads the file front to back, never seeking (pipes work); a regular file of
// 1000 seeds or more is read by two threads where this thread may run on two
// cores, the second opening it again; a file that begins with the
// gzip magic bytes is inflated on the way, its members in turn, and error
// positions count in the inflated text. On the first malformed token,
// truncated block or impossible count it stops and returns the error; seeds then
// holds what it held on entry. Memory grows with what the file holds, not with
// the counts it claims. A seed with fewer distances than its file has seeds is
// rejected, since every later stage indexes neibDist by seed index. A token of
// 1048576 bytes or more is rejected; no number needs that many. A header
// whose seeds' distances (8 N^2 bytes) exceed the memory this process can
// have is rejected at once. A path of "-" reads standard input, which errors
// call "standard input".
std::optional<ReadError> readSeed(const std::string& path, SeedSet& seeds);

// readSeed that gives up soon after stop is requested, even while a pipe,
// FIFO or terminal sends nothing (or a FIFO has no writer yet); the error
// then says "cancelled".
std::optional<ReadError> readSeed(const std::string& path, SeedSet& seeds, std::stop_token stop);

// Reads the file at path1 into seeds1 and the one at path2 into seeds2, both at
// once on two threads, with the result of readSeed on each in turn: when both
// fail, file 1's error. On an error or exception both sets hold what they held
// on entry. Two names of one pipe, FIFO, socket or terminal (the same device
// and inode) are refused, and so is "-" while standard input is closed.
std::optional<ReadError> readSeedPair(const std::string& path1, const std::string& path2,
                                      SeedSet& seeds1, SeedSet& seeds2);

// The same over text already in memory; name stands for the file in errors.
std::optional<ReadError> readSeedText(std::string_view text, const std::string& name,
                                      SeedSet& seeds);

// Writes seeds to path as a seed file that reads back to the same seeds, bit
// for bit: each real in the shortest form that reads back exactly. A path
// ending in ".gz" is written as gzip (level 1), and "-" is standard output.
// The file appears whole or not at all: the text goes to a new file beside
// path, renamed over it once complete (a FIFO or device is written in place).
// Returns why not on failure: the seeds are refused when they cannot make a
// readable file (desc lengths that differ from seed 0's, neibCount not the
// distances held or fewer than the seeds, a value that is not finite), or the
// system's reason, "cannot write: no space left on device".
std::optional<std::string> writeSeed(const std::string& path, const SeedSet& seeds);

// The same text in memory; throws std::invalid_argument for seeds refused.
std::string writeSeedText(const SeedSet& seeds);

}  // namespace seedmatch
