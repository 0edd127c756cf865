#include "seed.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace seedmatch {
namespace {

// Below 40: floor(v), with negatives and -inf in bin 0. 40 and above, +inf and
// NaN: bin 40. Distances are spread across 40 unpredictably, so this is
// written to compile without branches.
std::size_t binOf(double v) {
  constexpr double kLast = kHistBins;
#if defined(__SSE2__)
  // minsd yields its second operand when the first is NaN.
  const __m128d capped = _mm_min_sd(_mm_set_sd(v), _mm_set_sd(kLast));
  return static_cast<std::size_t>(_mm_cvttsd_si32(_mm_max_sd(capped, _mm_setzero_pd())));
#else
  const double capped = v < kLast ? v : kLast;
  return static_cast<std::size_t>(capped > 0.0 ? capped : 0.0);
#endif
}

}  // namespace

void NeibDis(SEED& seed) {
  // Bin kHistBins collects the skipped entries, so the loop has no branch to
  // mispredict; bins 0 to 39 receive exactly the additions, in the same order.
  std::array<double, kHistBins + 1> bins{};
  if (!seed.neibDist.empty()) {
    // Every hit adds this same quotient; dividing once gives the same bits as dividing per hit.
    const double weight = 1.0 / static_cast<double>(seed.neibCount);
    for (double v : seed.neibDist) {
      bins[binOf(v)] += weight;
    }
  }
  seed.neibHist.assign(bins.begin(), bins.begin() + kHistBins);
}

std::string formatReadError(const ReadError& error) {
  // A path may hold any byte but '/' and NUL; control bytes are escaped so the
  // message stays one line.
  std::string text = "seedmatch:";
  for (const char c : error.path) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      constexpr char kHex[] = "0123456789abcdef";
      text += {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
    } else {
      text += c;
    }
  }
  text += ":";
  if (error.line > 0) {
    text += std::to_string(error.line) + ":" + std::to_string(error.column) + ":";
  }
  return text + " " + error.message;
}

}  // namespace seedmatch
