#include "seed.h"

namespace seedmatch {

void NeibDis(SEED& seed) {
  // Every hit adds the same quotient, so a bin's value depends only on how
  // many hits it had: they are counted first (most distances lie beyond the
  // last bin and cost one comparison), then added one at a time, as the bits
  // require.
  std::array<std::size_t, kHistBins> hits{};
  std::size_t total = 0;
  for (const double v : seed.neibDist) {
    if (v < kHistBins) {  // false for NaN and +inf
      ++hits[static_cast<std::size_t>(v > 0.0 ? v : 0.0)];
      ++total;
    }
  }
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
