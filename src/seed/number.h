// The reader's fast conversions of the number tokens real files hold. Each
// either converts a token exactly as std::from_chars would or declines it,
// leaving the token to the reader's general path. Not part of the installed
// interface.
#pragma once

#include <cstdint>

namespace seedmatch {

// Bytes that must be readable from the start of a token for the fast paths to
// look at it. They read at most 32 bytes and stop at the first byte that
// cannot continue the token, so no byte needs testing against the end.
inline constexpr std::ptrdiff_t kFastWindow = 64;

namespace detail {

inline bool fastDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// 10^0 to 10^22: every one is an exact double.
inline constexpr double kExactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Appends the digits at p (at most limit of them) to value; returns how many
// there were, or limit + 1 when there are more.
[[gnu::always_inline]] inline int appendDigits(const char*& p, int limit, std::uint64_t& value) {
  int n = 0;
  while (fastDigit(*p)) {
    if (n == limit) return limit + 1;
    value = value * 10 + static_cast<unsigned>(*p - '0');
    ++p, ++n;
  }
  return n;
}

}  // namespace detail

// A real token of at most 19 digits (sign, point and exponent of up to three
// digits allowed) whose digits form an integer m <= 2^53 and whose value is
// m * 10^e or m / 10^e with e <= 22: both operands are exact doubles, so one
// correctly rounded operation gives the correctly rounded value. Returns the
// end of the token and sets value, or nullptr (value untouched) when declined.
// The token must not be the whole of the bytes before last: fewer than
// kFastWindow bytes from first to last are always declined.
[[gnu::always_inline]] inline const char* fastReal(const char* first, const char* last, double& value) {
  if (last - first < kFastWindow) return nullptr;
  const char* p = first;
  const bool negative = *p == '-';
  p += negative || *p == '+';
  std::uint64_t m = 0;
  const int whole = detail::appendDigits(p, 19, m);
  if (whole > 19) return nullptr;
  int fraction = 0;
  if (*p == '.') {
    ++p;
    fraction = detail::appendDigits(p, 19 - whole, m);
  }
  const int digits = whole + fraction;
  if (digits == 0 || digits > 19) return nullptr;
  int exponent = 0;
  if ((*p | 0x20) == 'e') {
    ++p;
    const bool down = *p == '-';
    p += down || *p == '+';
    std::uint64_t e = 0;
    const int n = detail::appendDigits(p, 3, e);
    if (n == 0 || n > 3) return nullptr;
    exponent = down ? -static_cast<int>(e) : static_cast<int>(e);
  }
  exponent -= fraction;
  constexpr std::uint64_t kExactLimit = std::uint64_t{1} << 53;
  if (m > kExactLimit || exponent < -22 || exponent > 22) {
    if (m != 0) return nullptr;
    exponent = 0;  // zero stays zero at any scale
  }
  const double mantissa = static_cast<double>(m);
  const double magnitude = exponent < 0 ? mantissa / detail::kExactPowers[-exponent]
                                        : mantissa * detail::kExactPowers[exponent];
  value = negative ? -magnitude : magnitude;
  return p;
}

// An integer token of at most 9 digits, optionally signed: it always fits in
// 32 bits. Returns the end of the token and sets value, or nullptr (value
// untouched) when declined. The same window rule as fastReal.
[[gnu::always_inline]] inline const char* fastInteger(const char* first, const char* last, std::int32_t& value) {
  if (last - first < kFastWindow) return nullptr;
  const char* p = first;
  const bool negative = *p == '-';
  p += negative || *p == '+';
  std::uint64_t m = 0;
  const int digits = detail::appendDigits(p, 9, m);
  if (digits == 0 || digits > 9) return nullptr;
  const auto magnitude = static_cast<std::int32_t>(m);
  value = negative ? -magnitude : magnitude;
  return p;
}

}  // namespace seedmatch
