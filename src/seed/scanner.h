// The reader's tokenizer: whitespace-separated tokens over a refilling
// buffer, converted to numbers, with the file position of any failure. Not
// part of the installed interface.
#pragma once

#include <locale.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "input.h"
#include "number.h"
#include "seedmatch/seed/seed.h"

namespace seedmatch {

// What the reader expects at a token, kept as plain numbers so that naming it
// in words costs nothing until a message is needed.
enum class Slot : unsigned char {
  seedCount,
  descLength,
  position,
  leadingInteger,
  descValue,
  pointCount,
  neibCount,
  distance
};
struct Field {
  Slot slot;
  std::int32_t seed = 0;
  std::int32_t part = 0;   // descriptor slot, coordinate or point count index
  std::int32_t entry = 0;  // entry within a descriptor or the distances
};

// Splits its input into whitespace-separated tokens and converts them. Over a
// file it holds a window of the bytes read so far; every token that starts
// before safeEnd_ also ends before it, while the bytes after it may be the
// first part of a token that the next read completes.
//
// integer() and real() only say whether they succeeded; explain() then turns
// the failure into a message about the field that was being read, so that the
// hot loops never build a description.
class Scanner {
 public:
  // Over text already in memory: nothing is ever read.
  explicit Scanner(std::string_view text)
      : buffer_(text.data()),
        p_(buffer_),
        safeEnd_(buffer_ + text.size()),
        dataEnd_(safeEnd_),
        atEof_(true) {}

  // Over an open file, with a buffer of capacity bytes to read into.
  Scanner(Input& input, char* buffer, std::size_t capacity)
      : buffer_(buffer),
        p_(buffer),
        safeEnd_(buffer),
        dataEnd_(buffer),
        input_(&input),
        writable_(buffer),
        capacity_(capacity) {}

  Scanner(const Scanner&) = delete;
  Scanner& operator=(const Scanner&) = delete;
  ~Scanner() {
    if (cLocale_ != locale_t{}) ::freelocale(cLocale_);
  }

  [[gnu::always_inline]] bool integer(std::int32_t& value) {
    if (!nextToken()) return false;
    tokenStart_ = p_;
    if (const char* end = fastInteger(p_, safeEnd_, value);
        end != nullptr && detail::isSpace(*end)) {
      p_ = end;
      return true;
    }
    return anyInteger(value);
  }

  [[gnu::always_inline]] bool real(double& value) {
    if (!nextToken()) return false;
    if (const char* end = fastReal(p_, safeEnd_, value); end != nullptr && detail::isSpace(*end)) {
      p_ = end;
      return true;
    }
    return anyReal(value);
  }

  // Converts the next count real tokens into out. Returns count, or how many
  // came before the one that failed, which explain() then describes. Where a
  // whole block is at hand, its tokens are found from one mask of its spaces
  // and converted side by side; the wide form declines long tokens, which the
  // narrow one then takes.
  [[gnu::always_inline]] std::int32_t reals(double* out, std::int32_t count) {
    std::int32_t done = 0;
    while (done < count) {
      if (!nextToken()) return done;
      const char* end = p_;
      std::int32_t converted = fastReals(p_, safeEnd_, count - done, out + done, end, wide_);
      if (converted == 0 && wide_) {
        constexpr std::int32_t kNarrowRun = 8;  // then the wide form is tried again
        converted =
            fastReals(p_, safeEnd_, std::min(count - done, kNarrowRun), out + done, end, false);
      }
      if (converted > 0) {
        done += converted;
        p_ = end;
      } else {
        if (!real(out[done])) return done;
        ++done;
      }
    }
    return done;
  }

  // Every integer token, by from_chars; p_ is at its first byte.
  [[gnu::noinline]] bool anyInteger(std::int32_t& value);

  // Every real token, by from_chars; p_ is at its first byte.
  [[gnu::noinline]] bool anyReal(double& value);

  // Sets the error for the last failed integer() or real(), which was reading field.
  [[gnu::cold]] bool explain(const Field& field);

  // Fails at the integer just read, for a value of the right form that is not allowed.
  [[gnu::cold]] bool failAtToken(std::string message);

  ReadError& error() { return error_; }

  // Passes over count tokens without converting them; false at the end of
  // the text or when reading fails. Sixteen bytes at a time where SSE2 is
  // available, counting the bytes that start a token; any byte up to ' '
  // separates tokens there, which differs from isSpace() only on text that
  // is not a valid seed file.
  bool skip(std::int64_t count) {
    while (count > 0) {
      if (!nextToken()) return false;
      --count;
      const char* p = p_ + 1;
      unsigned inToken = 1;  // whether the byte before p belongs to a token
#if defined(__SSE2__)
      const __m128i space = _mm_set1_epi8(' ' + 1);
      for (; safeEnd_ - p >= 16; p += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i isToken = _mm_cmpeq_epi8(_mm_max_epu8(bytes, space), bytes);
        const auto token = static_cast<unsigned>(_mm_movemask_epi8(isToken));
        unsigned starts = token & ~((token << 1) | inToken);
        const int found = __builtin_popcount(starts);
        if (found > count) {
          for (; count > 0; --count) starts &= starts - 1;
          p_ = p + __builtin_ctz(starts);
          return true;
        }
        count -= found;
        inToken = (token >> 15) & 1;
      }
#endif
      p_ = p;
      if (inToken != 0) {
        while (p_ != safeEnd_ && !detail::isSpace(*p_)) ++p_;
      }
    }
    return true;
  }

  // Whether the text is a plain regular file, which can be opened again.
  bool fromRegularFile() const { return input_ != nullptr && input_->regularPlain(); }

 private:
  enum class Problem : unsigned char {
    endOfFile,
    notInteger,
    notReal,
    outOfRange,
    tooLong,
    readFailed
  };

  // Skips whitespace up to the next token, reading more of the file as needed.
  [[gnu::always_inline]] bool nextToken() {
    for (;;) {
      while (p_ != safeEnd_ && detail::isSpace(*p_)) ++p_;
      if (p_ != safeEnd_) return true;
      if (atEof_) return failWith(Problem::endOfFile);
      if (!refill()) return false;
    }
  }

  // Moves the unfinished token, if any, to the front of the buffer and reads
  // behind it. Called only when every complete token has been consumed.
  [[gnu::noinline]] bool refill();

  bool failWith(Problem problem) {
    problem_ = problem;
    return false;
  }

  // from_chars reports values below the normal range as out of range and
  // leaves value unset; strtod gives the correctly rounded subnormal or signed
  // zero for them, as formatted extraction does. Overflow stays an error. The
  // C locale is named, since a program may have set one whose decimal point
  // is a comma.
  [[gnu::cold]] bool belowNormalRange(const char* first, const char* end, double& value);

  // Lines are counted only over bytes about to leave the buffer and when a
  // message needs a position, which keeps the token loop free of it.
  void countLines(const char* upTo);

  // Sixteen bytes at a time where SSE2 is available: this runs over every byte of the file.
  static std::int64_t newlines(const char* text, std::size_t length);

  // Sets the error at p_: the failed token, or where the file ends.
  bool fail(std::string message);

  std::int64_t offset(const char* at) const { return base_ + (at - buffer_); }

  const char* buffer_;
  const char* p_;
  const char* safeEnd_;
  const char* dataEnd_;
  const char* tokenStart_ = nullptr;
  bool atEof_ = false;
  Problem problem_ = Problem::endOfFile;
  Input* input_ = nullptr;
  char* writable_ = nullptr;
  std::size_t capacity_ = 0;
  std::int64_t base_ = 0;     // file offset of buffer_[0]
  std::int64_t counted_ = 0;  // file offset up to which line_ and lineStart_ are known
  std::int64_t line_ = 1;
  std::int64_t lineStart_ = 0;  // file offset of the first byte of that line
  ReadError error_;
  locale_t cLocale_ = locale_t{};  // made when first needed
#if defined(SEEDMATCH_DEFAULT_CLONES)
  bool wide_ = false;
#else
  bool wide_ = wideRealsAvailable();
#endif
};

}  // namespace seedmatch
