// The seed file reader: a tokenizer over a refilling buffer, and the header and
// block layout on top of it.
#include <fcntl.h>
#include <locale.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <system_error>
#include <thread>

#include "input.h"
#include "memory_limit.h"
#include "number.h"
#include "seedmatch/seed/seed.h"
#include "seedmatch/seed/system_error.h"

namespace seedmatch {
namespace {

// Bytes read from a file at a time. A token must fit in it whole with the
// byte that ends it, so a file's tokens are shorter than this.
constexpr std::size_t kBufferSize = std::size_t{1} << 20;

using detail::isSpace;
bool isDigit(char c) { return c >= '0' && c <= '9'; }

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
      constexpr char kHex[] = "0123456789abcdef";
      text += {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
    }
  }
  text += end - begin > kShown ? "'..." : "'";
  return text;
}

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
    if (const char* end = fastInteger(p_, safeEnd_, value); end != nullptr && isSpace(*end)) {
      p_ = end;
      return true;
    }
    return anyInteger(value);
  }

  [[gnu::always_inline]] bool real(double& value) {
    if (!nextToken()) return false;
    if (const char* end = fastReal(p_, safeEnd_, value); end != nullptr && isSpace(*end)) {
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
  std::int32_t reals(double* out, std::int32_t count) {
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
  [[gnu::noinline]] bool anyInteger(std::int32_t& value) {
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

  // Every real token, by from_chars; p_ is at its first byte.
  [[gnu::noinline]] bool anyReal(double& value) {
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

  // Sets the error for the last failed integer() or real(), which was reading field.
  [[gnu::cold]] bool explain(const Field& field) {
    const char* end = p_;
    while (end != safeEnd_ && !isSpace(*end)) ++end;
    switch (problem_) {
      case Problem::endOfFile: return fail("file ends where " + describe(field) + " was expected");
      case Problem::notInteger:
        return fail("expected " + describe(field) + " (an integer), found " + quote(p_, end));
      case Problem::notReal:
        return fail("expected " + describe(field) + " (a real number), found " + quote(p_, end));
      case Problem::outOfRange: return fail(describe(field) + " out of range: " + quote(p_, end));
      case Problem::tooLong:
        return fail("expected " + describe(field) + ", found a token of " +
                    std::to_string(capacity_) + " bytes or more");
      case Problem::readFailed: break;
    }
    error_ = ReadError{{}, 0, 0, input_->message()};
    return false;
  }

  // Fails at the integer just read, for a value of the right form that is not allowed.
  [[gnu::cold]] bool failAtToken(std::string message) {
    p_ = tokenStart_;
    return fail(std::move(message));
  }

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
        while (p_ != safeEnd_ && !isSpace(*p_)) ++p_;
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
      while (p_ != safeEnd_ && isSpace(*p_)) ++p_;
      if (p_ != safeEnd_) return true;
      if (atEof_) return failWith(Problem::endOfFile);
      if (!refill()) return false;
    }
  }

  // Moves the unfinished token, if any, to the front of the buffer and reads
  // behind it. Called only when every complete token has been consumed.
  [[gnu::noinline]] bool refill() {
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

  bool failWith(Problem problem) {
    problem_ = problem;
    return false;
  }

  // from_chars reports values below the normal range as out of range and
  // leaves value unset; strtod gives the correctly rounded subnormal or signed
  // zero for them, as formatted extraction does. Overflow stays an error. The
  // C locale is named, since a program may have set one whose decimal point
  // is a comma.
  [[gnu::cold]] bool belowNormalRange(const char* first, const char* end, double& value) {
    const std::string token(first, end);
    if (cLocale_ == locale_t{}) cLocale_ = ::newlocale(LC_ALL_MASK, "C", locale_t{});
    if (cLocale_ == locale_t{}) throw std::bad_alloc();
    const double parsed = ::strtod_l(token.c_str(), nullptr, cLocale_);
    if (std::isinf(parsed)) return false;
    value = parsed;
    return true;
  }

  // Lines are counted only over bytes about to leave the buffer and when a
  // message needs a position, which keeps the token loop free of it.
  void countLines(const char* upTo) {
    const char* from = buffer_ + (counted_ - base_);
    const auto length = static_cast<std::size_t>(upTo - from);
    if (length == 0) return;
    if (const void* last = ::memrchr(from, '\n', length)) {
      line_ += newlines(from, length);
      lineStart_ = offset(static_cast<const char*>(last) + 1);
    }
    counted_ = offset(upTo);
  }

  // Sixteen bytes at a time where SSE2 is available: this runs over every byte of the file.
  static std::int64_t newlines(const char* text, std::size_t length) {
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

  // Sets the error at p_: the failed token, or where the file ends.
  bool fail(std::string message) {
    countLines(p_);
    error_ = ReadError{{}, line_, offset(p_) - lineStart_ + 1, std::move(message)};
    return false;
  }

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

// Fresh memory costs a fault per page on first write. The pages of storage
// about to be filled are mapped in one call instead, where the system allows it.
void prefault(const std::vector<double>& values) {
#if defined(MADV_POPULATE_WRITE)
  constexpr std::uintptr_t kPage = 4096;
  const auto first = (reinterpret_cast<std::uintptr_t>(values.data()) + kPage - 1) & ~(kPage - 1);
  const auto last =
      reinterpret_cast<std::uintptr_t>(values.data() + values.capacity()) & ~(kPage - 1);
  if (last > first + kPage)
    ::madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
#else
  static_cast<void>(values);
#endif
}

struct Header {
  std::int32_t count = 0;
  std::array<std::int32_t, 6> descLen{};
  bool operator==(const Header&) const = default;
};

bool readHeader(Scanner& in, Header& header) {
  std::int32_t& count = header.count;
  if (!in.integer(count)) return in.explain({Slot::seedCount});
  // The distances alone take 8 N^2 bytes. Checked from the header, so that a
  // pipe or gzip file that could never fit fails at once.
  const double needed = 8.0 * count * count;
  if (count > 0 && needed > 64e6 && needed > static_cast<double>(memoryAvailable())) {
    char size[64];
    const bool gigabytes = needed >= 1e9;
    std::snprintf(size, sizeof size, gigabytes ? "%.1f GB" : "%.0f MB",
                  needed / (gigabytes ? 1e9 : 1e6));
    return in.failAtToken("the distances of " + std::to_string(count) + " seeds need " + size +
                          ", more than this process can have");
  }
  for (std::int32_t d = 0; d < 6; ++d) {
    std::int32_t& length = header.descLen[static_cast<std::size_t>(d)];
    if (!in.integer(length)) return in.explain({Slot::descLength, 0, d});
    if (length < 0) {
      return in.failAtToken("descriptor length " + std::to_string(d) +
                            " is negative: " + std::to_string(length));
    }
  }
  return true;
}

// Storage is reserved for at most kTrusted values, or as many as a complete
// earlier seed held (longest), so a count larger than the file fails at its
// end instead of in the allocator, while a real file's vectors are allocated
// once, at their size.
constexpr std::int32_t kTrusted = 1 << 12;

// Reads block i straight into seed.
bool readBlock(Scanner& in, const Header& header, std::int32_t i, SEED& seed,
               std::int32_t& longest) {
  const auto reserve = [&](std::vector<double>& values, std::int32_t claimed) {
    values.reserve(static_cast<std::size_t>(std::min(claimed, longest)));
    prefault(values);
  };
  const auto readReals = [&](std::vector<double>& values, std::int32_t count, Field field) {
    reserve(values, count);
    double chunk[512];
    for (std::int32_t j = 0; j < count;) {
      const std::int32_t wanted = std::min<std::int32_t>(count - j, std::size(chunk));
      const std::int32_t converted = in.reals(chunk, wanted);
      values.insert(values.end(), chunk, chunk + converted);
      j += converted;
      if (converted < wanted) {
        field.entry = j;
        return in.explain(field);
      }
    }
    return true;
  };
  std::int32_t discarded = 0;
  for (std::int32_t k = 0; k < 3; ++k) {
    if (!in.real(seed.pos[k])) return in.explain({Slot::position, i, k});
  }
  for (std::int32_t d = 0; d < 6; ++d) {
    for (std::int32_t t = 0; t < 2; ++t) {
      if (!in.integer(discarded)) return in.explain({Slot::leadingInteger, i, d, t});
    }
    if (!readReals(seed.desc[static_cast<std::size_t>(d)],
                   header.descLen[static_cast<std::size_t>(d)], {Slot::descValue, i, d})) {
      return false;
    }
  }
  for (std::int32_t k = 0; k < 3; ++k) {
    if (!in.integer(seed.pts[k])) return in.explain({Slot::pointCount, i, k});
  }
  if (!in.integer(seed.neibCount)) return in.explain({Slot::neibCount, i});
  if (seed.neibCount < 0) {
    return in.failAtToken("neibCount of seed " + std::to_string(i) +
                          " is negative: " + std::to_string(seed.neibCount));
  }
  // Later stages look up neibDist by seed index; a shorter list would be read past its end.
  if (seed.neibCount < header.count) {
    return in.failAtToken("neibCount of seed " + std::to_string(i) + " is " +
                          std::to_string(seed.neibCount) + ", fewer than the " +
                          std::to_string(header.count) + " seeds of the file");
  }
  if (!readReals(seed.neibDist, seed.neibCount, {Slot::distance, i})) return false;
  longest = std::max(longest, seed.neibCount);
  NeibDis(seed);
  return true;
}

// Passes over the first count blocks without converting them. False where
// the text does not hold them as readBlock would take them; reading those
// blocks then finds out why.
bool skipBlocks(Scanner& in, const Header& header, std::int32_t count) {
  std::int64_t ahead = 3 + 12 + 3;  // position, the integers ahead of each descriptor, point counts
  for (const std::int32_t length : header.descLen) ahead += length;
  for (std::int32_t i = 0; i < count; ++i) {
    std::int32_t neibCount = 0;
    if (!in.skip(ahead) || !in.integer(neibCount) || neibCount < header.count ||
        !in.skip(neibCount))
      return false;
  }
  return true;
}

// The cores this thread may run on.
int coresAvailable() {
  cpu_set_t cores;
  return ::sched_getaffinity(0, sizeof cores, &cores) == 0 ? CPU_COUNT(&cores) : 1;
}

// A regular file of at least this many seeds is read by two threads.
constexpr std::int32_t kSplitFrom = 1000;

// What the second thread of a split reading found.
struct SecondPart {
  std::atomic<bool> stop{false};  // set by the first thread when it has failed
  bool reached = false;           // it passed over the first part's blocks as readBlock takes them
  bool complete = false;
  ReadError error;
  std::exception_ptr thrown;
};

// The blocks from `from` on, read into seeds over a second opening of path.
void readSecondPart(const std::string& path, const Header& header, std::int32_t from, SEED* seeds,
                    SecondPart& part) {
  try {
    Input input;
    if (input.open(path)) return;
    const auto buffer = std::make_unique_for_overwrite<char[]>(kBufferSize);
    Scanner in(input, buffer.get(), kBufferSize);
    Header again;
    if (!readHeader(in, again) || !(again == header) || !skipBlocks(in, header, from)) return;
    part.reached = true;
    std::int32_t longest = kTrusted;
    for (std::int32_t i = from; i < header.count; ++i) {
      if (part.stop.load(std::memory_order_relaxed)) return;
      if (!readBlock(in, header, i, seeds[i], longest)) {
        part.error = std::move(in.error());
        return;
      }
    }
    part.complete = true;
  } catch (...) {
    part.thrown = std::current_exception();
  }
}

// Reads the header and the blocks into seeds. With splitPath, a regular
// file of many seeds is read by two threads: this one converts the first
// blocks while another opens the file again, passes over them and converts
// the rest. An error in the first part is found before the second part's is
// looked at, so the first error of the file is the one reported.
bool readBlocks(Scanner& in, SeedSet& seeds, const std::string* splitPath) {
  Header header;
  if (!readHeader(in, header)) return false;
  std::int32_t longest = kTrusted;
  std::int32_t i = 0;
  if (splitPath != nullptr && header.count >= kSplitFrom && in.fromRegularFile() &&
      coresAvailable() > 1) {
    const std::size_t held = seeds.size();
    seeds.resize(held + static_cast<std::size_t>(header.count));
    SEED* const base = seeds.data() + held;
    // The second thread also passes over the first part's text, so it takes less.
    const auto from = static_cast<std::int32_t>(std::int64_t{header.count} * 53 / 100);
    SecondPart second;
    std::thread worker;
    try {
      worker = std::thread(readSecondPart, std::cref(*splitPath), std::cref(header), from, base,
                           std::ref(second));
    } catch (const std::system_error&) {
      seeds.resize(held);  // no thread to be had: read on alone
    }
    if (worker.joinable()) {
      bool read = true;
      try {
        for (; read && i < from; ++i) read = readBlock(in, header, i, base[i], longest);
      } catch (...) {
        second.stop.store(true, std::memory_order_relaxed);
        worker.join();
        throw;
      }
      if (!read) second.stop.store(true, std::memory_order_relaxed);
      worker.join();
      if (!read) return false;
      if (second.thrown) std::rethrow_exception(second.thrown);
      if (second.reached) {
        if (second.complete) return true;
        in.error() = std::move(second.error);
        return false;
      }
      seeds.resize(held + static_cast<std::size_t>(from));  // read on alone
    }
  }
  for (; i < header.count; ++i) {
    if (!readBlock(in, header, i, seeds.emplace_back(), longest)) return false;
  }
  return true;
}

void dropFrom(SeedSet& seeds, std::size_t held) {
  seeds.erase(seeds.begin() + static_cast<std::ptrdiff_t>(held), seeds.end());
}

// Runs readBlocks and leaves seeds as they were on entry when it fails, or throws.
std::optional<ReadError> load(Scanner& in, const std::string& name, SeedSet& seeds,
                              const std::string* splitPath = nullptr) {
  const std::size_t held = seeds.size();
  bool complete = false;
  try {
    complete = readBlocks(in, seeds, splitPath);
  } catch (...) {
    dropFrom(seeds, held);
    throw;
  }
  if (complete) return std::nullopt;
  dropFrom(seeds, held);
  ReadError error = std::move(in.error());
  error.path = name;
  return error;
}

// Reads the seeds of an open file; splitPath as for readBlocks.
std::optional<ReadError> readInput(Input& input, const std::string& name, SeedSet& seeds,
                                   const std::string* splitPath = nullptr) {
  const auto buffer = std::make_unique_for_overwrite<char[]>(kBufferSize);
  Scanner in(input, buffer.get(), kBufferSize);
  const std::size_t held = seeds.size();
  auto error = load(in, name, seeds, splitPath);
  // The rest of a gzip file is inflated too, so that damage after the last
  // seed is not passed over.
  if (!error && !input.finish(buffer.get(), kBufferSize)) {
    dropFrom(seeds, held);
    return ReadError{name, 0, 0, input.message()};
  }
  return error;
}

// What errors call the file at path.
std::string nameOf(const std::string& path) {
  return path == kStandardInput ? "standard input" : path;
}

// readSeed, giving up when cancel asks it to (the error then says "cancelled");
// with split, on two threads where the file allows it.
std::optional<ReadError> readFile(const std::string& path, SeedSet& seeds,
                                  const Cancellation* cancel, bool split = false) {
  Input input;
  if (auto message = input.open(path, cancel))
    return ReadError{nameOf(path), 0, 0, std::move(*message)};
  return readInput(input, nameOf(path), seeds, split && path != kStandardInput ? &path : nullptr);
}

bool statusOf(const std::string& path, struct stat& status) {
  return path == kStandardInput ? ::fstat(STDIN_FILENO, &status) == 0
                                : ::stat(path.c_str(), &status) == 0;
}

// The same pipe, FIFO, socket or terminal named twice: it is one stream, and
// the first reading takes it whole.
bool sameStream(const std::string& path1, const std::string& path2) {
  struct stat a {
  }, b{};
  return statusOf(path1, a) && statusOf(path2, b) && a.st_dev == b.st_dev && a.st_ino == b.st_ino &&
         !S_ISREG(a.st_mode);
}

// A pipe whose write end wakes a reader waiting in poll().
class WakePipe {
 public:
  WakePipe() {
    if (::pipe2(fds_, O_CLOEXEC) != 0) fds_[0] = fds_[1] = -1;
  }
  WakePipe(const WakePipe&) = delete;
  WakePipe& operator=(const WakePipe&) = delete;
  ~WakePipe() {
    for (int fd : fds_) {
      if (fd >= 0) ::close(fd);
    }
  }
  int readEnd() const { return fds_[0]; }
  void wake() const {
    if (fds_[1] >= 0) {
      [[maybe_unused]] const ssize_t written = ::write(fds_[1], "x", 1);
    }
  }

 private:
  int fds_[2];
};

// File 1, then file 2; with same, file 2 reads on in file 1's open file.
std::optional<ReadError> readInTurn(const std::string& path1, const std::string& path2,
                                    SeedSet& seeds1, SeedSet& seeds2, bool same) {
  const std::size_t held1 = seeds1.size();
  Input input1;
  if (auto message = input1.open(path1)) return ReadError{nameOf(path1), 0, 0, std::move(*message)};
  if (auto error = readInput(input1, nameOf(path1), seeds1)) return error;
  std::optional<ReadError> error;
  try {
    Input input2;
    auto message = same ? input2.openSame(input1) : input2.open(path2);
    error = message ? ReadError{nameOf(path2), 0, 0, std::move(*message)}
                    : readInput(input2, nameOf(path2), seeds2);
  } catch (...) {
    dropFrom(seeds1, held1);
    throw;
  }
  if (error) dropFrom(seeds1, held1);
  return error;
}

}  // namespace

std::optional<ReadError> readSeedText(std::string_view text, const std::string& name,
                                      SeedSet& seeds) {
  Scanner in(text);
  return load(in, name, seeds);
}

std::optional<ReadError> readSeed(const std::string& path, SeedSet& seeds) {
  return readFile(path, seeds, nullptr, true);
}

std::optional<ReadError> readSeedPair(const std::string& path1, const std::string& path2,
                                      SeedSet& seeds1, SeedSet& seeds2) {
  // A stream named twice is opened once, since a FIFO would wait for a
  // second writer: file 2 reads on from where file 1 stopped.
  const bool same = sameStream(path1, path2);
  if (same || &seeds1 == &seeds2) return readInTurn(path1, path2, seeds1, seeds2, same);

  // File 2 is read on a worker. When file 1 fails, its error is the one
  // reported, so the worker is told to stop rather than waited for.
  const std::size_t held1 = seeds1.size();
  const std::size_t held2 = seeds2.size();
  const WakePipe wake;
  if (wake.readEnd() < 0) return readInTurn(path1, path2, seeds1, seeds2, false);
  Cancellation cancel;
  cancel.wakeFd = wake.readEnd();
  std::optional<ReadError> second;
  std::exception_ptr secondThrew;
  std::thread worker;
  try {
    worker = std::thread([&] {
      try {
        second = readFile(path2, seeds2, &cancel);
      } catch (...) {
        secondThrew = std::current_exception();
      }
    });
  } catch (const std::system_error&) {
    return readInTurn(path1, path2, seeds1, seeds2, false);  // no thread to be had
  }
  std::optional<ReadError> first;
  std::exception_ptr firstThrew;
  try {
    first = readFile(path1, seeds1, nullptr);
  } catch (...) {
    firstThrew = std::current_exception();
  }
  if (first || firstThrew) {
    cancel.requested.store(true, std::memory_order_relaxed);
    wake.wake();
  }
  worker.join();

  if (first || firstThrew) {
    if (!second && !secondThrew) dropFrom(seeds2, held2);
    if (firstThrew) std::rethrow_exception(firstThrew);
    return first;
  }
  if (second || secondThrew) dropFrom(seeds1, held1);
  if (secondThrew) std::rethrow_exception(secondThrew);
  return second;
}

}  // namespace seedmatch
