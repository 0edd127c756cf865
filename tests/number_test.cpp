// The fast conversions against std::from_chars, over millions of tokens of
// every shape: whatever the fast path takes must be from_chars' value to the bit.
#include "seed/number.h"

#include <charconv>
#include <optional>
#include <random>

#include "support.h"

namespace seedmatch {
namespace {

using test::kInf;

// What the reader gives for a token: from_chars, which takes no '+'.
template <class T>
std::optional<T> reference(std::string_view token) {
  if (!token.empty() && token[0] == '+' && token.size() > 1 && token[1] != '-')
    token.remove_prefix(1);
  T value{};
  const auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), value);
  if (ec != std::errc{} || end != token.data() + token.size()) return std::nullopt;
  return value;
}

// The fast path's value for a token followed by a space and a full window, if it takes it.
template <class T>
std::optional<T> fast(const std::string& token) {
  const std::string text = token + std::string(kFastWindow, ' ');
  T value{};
  const char* end = nullptr;
  if constexpr (std::is_same_v<T, double>)
    end = fastReal(text.data(), text.data() + text.size(), value);
  else
    end = fastInteger(text.data(), text.data() + text.size(), value);
  return end == text.data() + token.size() ? std::optional<T>(value) : std::nullopt;
}

std::string digits(std::mt19937_64& random, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += static_cast<char>('0' + random() % 10);
  return text;
}

// A real token of a random shape: sign, 1 to 25 digits, leading zeros, a point anywhere
// or none, an exponent of either case and sign, mostly near the ends of the fast range.
std::string randomReal(std::mt19937_64& random) {
  const char* const signs[] = {"", "", "-", "+"};
  std::string token = signs[random() % 4];
  const int count = 1 + static_cast<int>(random() % 25);
  std::string mantissa(random() % 4 == 0 ? random() % 4 : 0, '0');
  mantissa += digits(random, count);
  if (random() % 4 != 0) mantissa.insert(random() % (mantissa.size() + 1), 1, '.');
  token += mantissa;
  if (random() % 2 == 0) {
    const int edge = random() % 2 == 0 ? 22 : 0;
    const int exponent = static_cast<int>(random() % 11) - 5 + (random() % 2 == 0 ? edge : -edge);
    token += random() % 2 == 0 ? "e" : "E";
    token += exponent < 0 ? "-" : random() % 3 == 0 ? "+" : "";
    const std::string magnitude = std::to_string(std::abs(exponent));
    token += random() % 5 == 0 ? "0" + magnitude : magnitude;
  }
  return token;
}

// Integers whose value lies halfway between two doubles, written as m * 10^k
// with m below 2^53: the product must round to even, as from_chars does.
std::string randomHalfway(std::mt19937_64& random) {
  const int k = 1 + static_cast<int>(random() % 3);
  std::uint64_t scale = 1;
  for (int i = 0; i < k; ++i) scale *= 5;
  // An odd multiple of 5^k with 54 significant bits: halfway between two neighbours.
  std::uint64_t n = (std::uint64_t{1} << 53) + (random() % (std::uint64_t{1} << 53));
  n -= n % scale;
  if (n % 2 == 0) n += scale;
  if (n >= std::uint64_t{1} << 54) n -= 2 * scale;
  std::string token = std::to_string(n / scale);
  if (random() % 2 == 0) return token.append("e").append(std::to_string(k));
  return token.append(static_cast<std::size_t>(k), '0');
}

std::string bitsOf(std::optional<double> v) {
  return v ? std::to_string(std::bit_cast<std::uint64_t>(*v)) : "declined";
}
std::string valueOf(std::optional<std::int32_t> v) { return v ? std::to_string(*v) : "declined"; }

// Tokens and whether the fast path must take them: what real files hold is
// taken, the rest is left to from_chars.
TEST(FastNumbers, TakesPlainDecimalsAndDeclinesTheRest) {
  for (const char* token : {"36.174", "0.4954", "-0", "+0.0", ".5", "5.", "-.5", "+1.5e-3", "1E+22",
                            "1e-22", "0e999", "9007199254740992", "9007199254740.992e3"})
    EXPECT_EQ(bitsOf(fast<double>(token)), bitsOf(reference<double>(token))) << token;
  for (const char* token :
       {"1234567890123456789e-22", "9007199254740993", "1e23", "1e-23", "12345678901234567890",
        "1e0005", "", ".", "-", "+-1", "1e", "1e+", "inf", "nan", "0x1p3"})
    EXPECT_EQ(bitsOf(fast<double>(token)), "declined") << token;
  // Too close to the end of the bytes: always left to from_chars.
  const std::string shortText = "1.5 ";
  double value = 0.0;
  EXPECT_EQ(fastReal(shortText.data(), shortText.data() + shortText.size(), value), nullptr);
  for (const char* token : {"0", "-0", "+7", "999999999", "-999999999", "000000007"})
    EXPECT_EQ(valueOf(fast<std::int32_t>(token)), valueOf(reference<std::int32_t>(token))) << token;
  for (const char* token : {"1000000000", "2147483647", "", "-", "+"})
    EXPECT_EQ(valueOf(fast<std::int32_t>(token)), "declined") << token;
}

// Three million random tokens: what the fast path takes has from_chars' bits, and
// a fair share is taken. The reader, over a file of a million, gives from_chars' values.
TEST(FastNumbers, AgreeWithFromChars) {
  std::mt19937_64 random(20261207);
  long taken = 0, halfwayTaken = 0;
  std::vector<std::string> tokens;
  std::string text;
  for (int i = 0; i < 3'000'000; ++i) {
    const bool halfway = i % 8 == 0;
    std::string token = halfway ? randomHalfway(random) : randomReal(random);
    const auto expected = reference<double>(token);
    if (const auto value = fast<double>(token)) {
      ASSERT_EQ(bitsOf(value), bitsOf(expected)) << token;
      ++(halfway ? halfwayTaken : taken);
    }
    const double magnitude = expected ? std::abs(*expected) : kInf;
    if (tokens.size() < 1'000'000 && magnitude <= 1e300 &&
        (magnitude == 0.0 || magnitude >= 1e-300)) {
      text.append(tokens.size() % 13 == 0 ? "\n" : " ").append(token);
      tokens.push_back(std::move(token));
    }
  }
  EXPECT_GT(taken, 600'000);
  EXPECT_GT(halfwayTaken, 150'000);
  SeedSet seeds;
  text =
      "1 0 0 0 0 0 0 1 2 3 0 0 0 0 0 0 0 0 0 0 0 0 7 8 9 " + std::to_string(tokens.size()) + text;
  ASSERT_FALSE(readSeedText(text, "FILE", seeds));
  ASSERT_EQ(seeds.size(), 1u);
  for (std::size_t j = 0; j < tokens.size(); ++j) {
    ASSERT_EQ(bitsOf(seeds[0].neibDist[j]), bitsOf(reference<double>(tokens[j]))) << tokens[j];
  }
}

// Both forms of fastReals, walked as the reader walks them with random limits over tokens and
// spaces of every kind: the next tokens' from_chars values, then a stop at a declined token.
TEST(FastNumbers, BlocksConvertTheTokensInOrder) {
  std::mt19937_64 random(7);
  const std::string gaps[] = {
      " ", " ", " ", "\n", "\t", " \r\n", "\v", "\f", "  ", std::string(70, ' '), "\x01 "};
  for (const bool wide : {false, wideRealsAvailable()}) {
    for (int round = 0; round < 200; ++round) {
      std::string text;
      std::vector<std::size_t> starts;
      for (int i = 0; i < 400; ++i) {
        text += gaps[random() % (random() % 50 == 0 ? 11 : 10)];
        starts.push_back(text.size());
        const char* const odd[] = {".",  "-",   "+",   "1.2.3",     "..5",
                                   "-.", "+-1", "1-2", "12345678.", "-.1234567"};
        text += random() % 20 == 0 ? odd[random() % 10]
                : random() % 3 == 0
                    ? randomReal(random)
                    : digits(random, 1 + random() % 4) + "." + digits(random, random() % 5);
      }
      text += std::string(kBlockWindow, ' ');
      const char* const first = text.data();
      const char* const last = first + text.size();
      std::vector<double> out(400);
      std::size_t next = 0;  // the token a call starts at
      while (next < starts.size() && last - (first + starts[next]) > kBlockWindow) {
        const auto limit = static_cast<std::int32_t>(1 + random() % 40);
        const char* end = nullptr;
        const std::int32_t done =
            fastReals(first + starts[next] - (random() % 2), last, limit, out.data(), end, wide);
        ASSERT_LE(done, limit);
        const auto tokenAt = [&](std::size_t k) {
          return text.substr(starts[k], text.find_first_of(" \n\t\r\v\f", starts[k]) - starts[k]);
        };
        for (std::int32_t k = 0; k < done; ++k, ++next) {
          const std::string token = tokenAt(next);
          ASSERT_EQ(bitsOf(out[k]), bitsOf(reference<double>(token))) << token;
          if (k + 1 == done) {
            ASSERT_EQ(end - first, starts[next] + token.size());
          }
        }
        // Short of the limit, far from the end: the next token is one this form declines.
        if (done < limit && next < starts.size() &&
            last - (first + starts[next]) >= 64 + kBlockWindow) {
          const std::string token = tokenAt(next);
          const std::string body = token.substr(token[0] == '-' || token[0] == '+');
          const bool plain =
              body.size() <= 8 && body.find_first_not_of("0123456789.") == std::string::npos;
          ASSERT_TRUE(!fast<double>(token) || (wide && !plain)) << token;
          ++next;
        } else if (done == 0) {
          ++next;
        }
      }
    }
  }
}

}  // namespace
}  // namespace seedmatch
