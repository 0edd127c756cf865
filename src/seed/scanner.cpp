// The tokenizer's slow paths: tokens the fast conversions decline, refills,
// line counting and the messages of a failure.
#include "scanner.h"

#include <locale.h>
#include <string.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "escape.h"

namespace seedmatch {
namespace {

using detail::isSpace;
bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string describe(const Field& f) {
  const std::string seed = " of seed " + std::to_string(f.seed);
  switch (f.slot) {
    case Slot::seedCount: return "seed count";
    case Slot::descLength: return "descriptor length " + std::to_string(f.part);
    case Slot::position: return std::string("position ") + "xyz"[f.part] + seed;
    case Slot::leadingInteger:
      return std::string(f.entry == 0 ? "first" : "second") + " integer ahead of descriptor " +
             std::to_string(f.part) + seed;
    case Slot::descValue:
      return "value " + std::to_string(f.entry) + " of descriptor " + std::to_string(f.part) + seed;
    case Slot::pointCount: return "point count " + std::to_string(f.part) + seed;
    case Slot::neibCount: return "neibCount" + seed;
    case Slot::distance: return "distance " + std::to_string(f.entry) + seed;
  }
  return "number";
}

// A token as it can be shown in one line of text: bytes outside printable
// ASCII escaped, and cut short after a few dozen.
std::string quote(const char* begin, const char* end) {
  constexpr std::ptrdiff_t kShown = 40;
  std::string text = "'";
  for (const char* p = begin; p != end && p - begin < kShown; ++p) {
    const auto byte = static_cast<unsigned char>(*p);
    if (byte >= 0x20 && byte < 0x7f) {
      text += *p;
    } else {
      appendEscaped(text, byte);
    }
  }
  text += end - begin > kShown ? "'..." : "'";
  return text;
}

}  // namespace

bool Scanner::anyInteger(std::int32_t& value) {
  const char* first = p_;
  if (!isDigit(*first)) {
    if (*first == '+') ++first;
    const char* digits = *p_ == '-' ? p_ + 1 : first;
    if (digits == safeEnd_ || !isDigit(*digits)) return failWith(Problem::notInteger);
  }
  const auto [end, ec] = std::from_chars(first, safeEnd_, value);
  if (end != safeEnd_ && !isSpace(*end)) return failWith(Problem::notInteger);
  if (ec != std::errc{}) return failWith(Problem::outOfRange);
  p_ = end;
  return true;
}

bool Scanner::anyReal(double& value) {
  // from_chars takes no '+'. Testing the first character after the sign
  // keeps out inf, nan and their signed forms.
  const char* first = p_;
  if (!isDigit(*first)) {
    if (*first == '+') ++first;
    const char* digits = *p_ == '-' ? p_ + 1 : first;
    if (digits == safeEnd_ || !(isDigit(*digits) || *digits == '.'))
      return failWith(Problem::notReal);
  }
  const auto [end, ec] = std::from_chars(first, safeEnd_, value);
  if (ec == std::errc::invalid_argument || (end != safeEnd_ && !isSpace(*end))) {
    return failWith(Problem::notReal);
  }
  if (ec == std::errc::result_out_of_range && !belowNormalRange(first, end, value)) {
    return failWith(Problem::outOfRange);
  }
  p_ = end;
  return true;
}

bool Scanner::explain(const Field& field) {
  const char* end = p_;
  while (end != safeEnd_ && !isSpace(*end)) ++end;
  // Editors that save "UTF-8 with BOM" put three bytes ahead of the first number.
  constexpr std::string_view kByteOrderMark = "\xef\xbb\xbf";
  const std::string found =
      quote(p_, end) +
      (std::string_view(p_, static_cast<std::size_t>(end - p_)).starts_with(kByteOrderMark)
           ? " (a UTF-8 byte-order mark; save the file without one)"
           : "");
  switch (problem_) {
    case Problem::endOfFile: return fail("file ends where " + describe(field) + " was expected");
    case Problem::notInteger:
      return fail("expected " + describe(field) + " (an integer), found " + found);
    case Problem::notReal:
      return fail("expected " + describe(field) + " (a real number), found " + found);
    case Problem::outOfRange: return fail(describe(field) + " out of range: " + quote(p_, end));
    case Problem::tooLong:
      return fail("expected " + describe(field) + ", found a token of " +
                  std::to_string(capacity_) + " bytes or more");
    case Problem::readFailed: break;
  }
  error_ = ReadError{{}, 0, 0, input_->message()};
  return false;
}

bool Scanner::failAtToken(std::string message) {
  p_ = tokenStart_;
  return fail(std::move(message));
}

bool Scanner::refill() {
  const std::size_t kept = static_cast<std::size_t>(dataEnd_ - p_);
  if (kept == capacity_) return failWith(Problem::tooLong);
  countLines(p_);
  base_ += p_ - buffer_;
  std::memmove(writable_, p_, kept);
  p_ = buffer_;
  dataEnd_ = buffer_ + kept;
  const std::ptrdiff_t count = input_->read(writable_ + kept, capacity_ - kept);
  if (count < 0) return failWith(Problem::readFailed);
  const char* fresh = dataEnd_;
  dataEnd_ += count;
  if (count == 0) {
    atEof_ = true;
    safeEnd_ = dataEnd_;
    return true;
  }
  const char* end = dataEnd_;
  while (end != fresh && !isSpace(end[-1])) --end;
  safeEnd_ = end == fresh ? p_ : end;
  return true;
}

bool Scanner::belowNormalRange(const char* first, const char* end, double& value) {
  const std::string token(first, end);
  if (cLocale_ == locale_t{}) cLocale_ = ::newlocale(LC_ALL_MASK, "C", locale_t{});
  if (cLocale_ == locale_t{}) throw std::bad_alloc();
  const double parsed = ::strtod_l(token.c_str(), nullptr, cLocale_);
  if (std::isinf(parsed)) return false;
  value = parsed;
  return true;
}

void Scanner::countLines(const char* upTo) {
  const char* from = buffer_ + (counted_ - base_);
  const auto length = static_cast<std::size_t>(upTo - from);
  if (length == 0) return;
  if (const void* last = ::memrchr(from, '\n', length)) {
    line_ += newlines(from, length);
    lineStart_ = offset(static_cast<const char*>(last) + 1);
  }
  counted_ = offset(upTo);
}

std::int64_t Scanner::newlines(const char* text, std::size_t length) {
  std::int64_t count = 0;
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i newline = _mm_set1_epi8('\n');
  while (i + 16 <= length) {
    // Byte lanes count to at most 255 before they are summed.
    __m128i lanes = _mm_setzero_si128();
    for (int block = 0; block < 255 && i + 16 <= length; ++block, i += 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
      lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(bytes, newline));
    }
    const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
    count += _mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_unpackhi_epi64(sums, sums));
  }
#endif
  for (; i < length; ++i) count += text[i] == '\n';
  return count;
}

bool Scanner::fail(std::string message) {
  countLines(p_);
  error_ = ReadError{{}, line_, offset(p_) - lineStart_ + 1, std::move(message)};
  return false;
}

}  // namespace seedmatch
