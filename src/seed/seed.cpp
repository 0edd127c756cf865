#include "seedmatch/seed/seed.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "escape.h"

namespace seedmatch {

void NeibDis(SEED& seed) {
  // Every hit adds the same quotient, so a bin's value depends only on how
  // many hits it had: they are counted first (most distances lie beyond the
  // last bin and cost one comparison), then added one at a time, as the bits
  // require.
  std::array<std::size_t, kHistBins> hits{};
  std::size_t total = 0;
  const auto count = [&](double v) {
    if (v < kHistBins) {  // false for NaN and +inf
      ++hits[static_cast<std::size_t>(v > 0.0 ? v : 0.0)];
      ++total;
    }
  };
  const std::vector<double>& values = seed.neibDist;
  std::size_t i = 0;
  // Eight at a time, so that the many beyond the last bin cost one test together.
  for (; i + 8 <= values.size(); i += 8) {
#if defined(__SSE2__)
    const __m128d limit = _mm_set1_pd(kHistBins);
    __m128d below = _mm_cmplt_pd(_mm_loadu_pd(&values[i]), limit);
    for (std::size_t k = 2; k < 8; k += 2)
      below = _mm_or_pd(below, _mm_cmplt_pd(_mm_loadu_pd(&values[i + k]), limit));
    const bool any = _mm_movemask_pd(below) != 0;
#else
    bool any = false;
    for (std::size_t k = 0; k < 8; ++k) any |= values[i + k] < kHistBins;
#endif
    if (any) {
      for (std::size_t k = 0; k < 8; ++k) count(values[i + k]);
    }
  }
  for (; i < values.size(); ++i) count(values[i]);
  seed.neibHist.assign(kHistBins, 0.0);
  if (total == 0) return;
  const double weight = 1.0 / static_cast<double>(seed.neibCount);
  for (std::size_t k = 0; k < kHistBins; ++k) {
    double bin = 0.0;
    for (std::size_t i = 0; i < hits[k]; ++i) bin += weight;
    seed.neibHist[k] = bin;
  }
}

std::string formatReadError(const ReadError& error) {
  // A path may hold any byte but '/' and NUL; control bytes are escaped so the
  // message stays one line. An empty path is shown as the shell writes it.
  std::string text = kErrorPrefix;
  if (error.path.empty()) text += "''";
  for (const char c : error.path) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      appendEscaped(text, byte);
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
