#include "seed.h"

namespace seedmatch {

void NeibDis(SEED& seed) {
  seed.neibHist.assign(kHistBins, 0.0);
  for (double v : seed.neibDist) {
    if (!(v < static_cast<double>(kHistBins))) continue;  // 40 and above, +inf, NaN
    // The first k with v < k + 1: floor(v) for v >= 1, bin 0 below (and for -inf).
    const int bin = v < 1.0 ? 0 : static_cast<int>(v);
    seed.neibHist[static_cast<std::size_t>(bin)] += 1.0 / static_cast<double>(seed.neibCount);
  }
}

std::string formatReadError(const ReadError& error) {
  std::string text = "seedmatch:" + error.path + ":";
  if (error.line > 0) {
    text += std::to_string(error.line) + ":" + std::to_string(error.column) + ":";
  }
  return text + " " + error.message;
}

}  // namespace seedmatch
