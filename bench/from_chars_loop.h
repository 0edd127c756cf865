// The yardstick of the reading benchmarks: every whitespace-separated token
// converted by std::from_chars on one core, nothing stored.
#pragma once

#include <charconv>
#include <cstdint>

namespace seedmatch::bench {

struct LoopResult {
  double sum = 0.0;  // keeps the conversions from being optimised away
  std::int64_t tokens = 0;
  bool converted = true;  // false at the first token from_chars refuses
};

// Converts the tokens of [p, end), adding into result.
inline void fromCharsLoop(const char* p, const char* const end, LoopResult& result) {
  const auto isSpace = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  for (;;) {
    while (p != end && isSpace(*p)) ++p;
    if (p == end) return;
    double value = 0.0;
    const auto [next, ec] = std::from_chars(p, end, value);
    if (ec != std::errc{}) {
      result.converted = false;
      return;
    }
    result.sum += value;
    ++result.tokens;
    p = next;
  }
}

}  // namespace seedmatch::bench
