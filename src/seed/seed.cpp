#include "seed.h"

#include <algorithm>

namespace seedmatch {

void NeibDis(SEED& seed) {
  // Bin kHistBins collects the skipped entries, so the loop has no branch to
  // mispredict; bins 0 to 39 receive exactly the additions, in the same order.
  std::array<double, kHistBins + 1> bins{};
  if (!seed.neibDist.empty()) {
    // Every hit adds this same quotient; dividing once gives the same bits as dividing per hit.
    const double weight = 1.0 / static_cast<double>(seed.neibCount);
    for (double v : seed.neibDist) {
      // Below 40: floor(v), with negatives and -inf in bin 0. 40 and above, +inf and NaN: skipped.
      const double clamped = v < static_cast<double>(kHistBins) ? std::max(v, 0.0) : kHistBins;
      bins[static_cast<std::size_t>(clamped)] += weight;
    }
  }
  seed.neibHist.assign(bins.begin(), bins.begin() + kHistBins);
}

std::string formatReadError(const ReadError& error) {
  std::string text = "seedmatch:" + error.path + ":";
  if (error.line > 0) {
    text += std::to_string(error.line) + ":" + std::to_string(error.column) + ":";
  }
  return text + " " + error.message;
}

}  // namespace seedmatch
