// Feeds arbitrary bytes to the reader's fast number conversions. Whatever a
// fast path takes must be exactly what std::from_chars makes of the token
// (with a leading '+' dropped, as the reader drops it), to the bit.
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "seed/number.h"

namespace {

[[noreturn]] void fail(const std::string& token, const char* what) {
  std::fprintf(stderr, "number_fuzz: %s for '%s'\n", what, token.c_str());
  std::abort();
}

template <class T>
bool reference(const char* first, const char* last, T& value) {
  if (last - first > 1 && *first == '+' && first[1] != '-') ++first;
  const auto [end, ec] = std::from_chars(first, last, value);
  return ec == std::errc{} && end == last;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The bytes, then a space and enough bytes after it that the fast paths look at them.
  std::string text(reinterpret_cast<const char*>(data), size);
  text.append(seedmatch::kFastWindow, ' ');
  const char* first = text.data();
  const char* last = first + text.size();

  double real = 0.0;
  if (const char* end = seedmatch::fastReal(first, last, real)) {
    const std::string token(first, end);
    if (end - first > static_cast<std::ptrdiff_t>(size))
      fail(token, "fastReal read past the token");
    double expected = 0.0;
    // Taken only as a whole token: the reader needs a separator after it.
    if (*end == ' ' || static_cast<std::size_t>(end - first) == size) {
      if (!reference(first, end, expected)) fail(token, "fastReal took a token from_chars rejects");
      if (std::memcmp(&real, &expected, sizeof real) != 0)
        fail(token, "fastReal differs from from_chars");
    }
  }
  std::int32_t integer = 0;
  if (const char* end = seedmatch::fastInteger(first, last, integer)) {
    const std::string token(first, end);
    std::int32_t expected = 0;
    if (*end == ' ' || static_cast<std::size_t>(end - first) == size) {
      if (!reference(first, end, expected))
        fail(token, "fastInteger took a token from_chars rejects");
      if (integer != expected) fail(token, "fastInteger differs from from_chars");
    }
  }
  // Both forms of fastReals, walked over the bytes as the reader walks them:
  // every token a call converts is a whole token with from_chars' bits.
  text.append(seedmatch::kBlockWindow, ' ');
  first = text.data();
  last = first + text.size();
  using seedmatch::detail::isSpace;
  double out[64];
  for (const bool wide : {false, seedmatch::wideRealsAvailable()}) {
    for (const char* p = first; last - p >= seedmatch::kBlockWindow;) {
      while (isSpace(*p)) ++p;
      if (last - p < seedmatch::kBlockWindow) break;
      const char* end = p;
      const std::int32_t done = seedmatch::fastReals(p, last, 64, out, end, wide);
      for (std::int32_t k = 0; k < done; ++k) {
        while (isSpace(*p)) ++p;
        const char* tokenEnd = p;
        while (!isSpace(*tokenEnd)) ++tokenEnd;
        const std::string token(p, tokenEnd);
        double expected = 0.0;
        if (!reference(p, tokenEnd, expected))
          fail(token, "fastReals took a token from_chars rejects");
        if (std::memcmp(&out[k], &expected, sizeof expected) != 0)
          fail(token, "fastReals differs from from_chars");
        p = tokenEnd;
      }
      if (done > 0 && p != end)
        fail(std::string(first, end), "fastReals ended elsewhere than its last token");
      while (!isSpace(*p)) ++p;  // past the token it stopped at, if any
    }
  }
  return 0;
}
