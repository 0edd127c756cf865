// Checks the reader's fuzz targets share. A failed check aborts, so that
// libFuzzer keeps the input that broke it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "seedmatch/seed/seed.h"

namespace fuzz {

[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "fuzz: %s\n", what);
  std::abort();
}

inline void require(bool ok, const char* what) {
  if (!ok) fail(what);
}

inline bool sameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

// Bit for bit: two NaNs with the same payload are the same seed.
inline bool sameSeed(const seedmatch::SEED& a, const seedmatch::SEED& b) {
  bool same = std::memcmp(a.pos, b.pos, sizeof a.pos) == 0 &&
              std::memcmp(a.pts, b.pts, sizeof a.pts) == 0 && a.neibCount == b.neibCount &&
              sameBits(a.neibDist, b.neibDist) && sameBits(a.neibHist, b.neibHist);
  for (std::size_t d = 0; d < a.desc.size(); ++d) same = same && sameBits(a.desc[d], b.desc[d]);
  return same;
}

}  // namespace fuzz
