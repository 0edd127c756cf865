// The reader's fast conversions of the number tokens real files hold. Each
// either converts a token exactly as std::from_chars would or declines it,
// leaving the token to the reader's general path. Not part of the installed
// interface.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
// GCC 12 takes the intrinsics' deliberately undefined starting values for
// uninitialised ones once they are inlined.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#define SEEDMATCH_WIDE_REALS 1
#endif

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

#if defined(__SSE2__)
// The token at p when it is at most eight bytes of digits and one point at
// most, not followed by an exponent: what nearly every distance looks like.
// Classifies sixteen bytes at once and forms the digits' integer by three
// multiplications, so no branch depends on where the point falls. Returns
// the end of the token and sets magnitude, or nullptr when declined.
[[gnu::always_inline]] inline const char* shortPlainReal(const char* p, double& magnitude) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i fromZero = _mm_sub_epi8(bytes, _mm_set1_epi8('0'));
  const __m128i digit = _mm_cmpeq_epi8(_mm_min_epu8(fromZero, _mm_set1_epi8(9)), fromZero);
  const __m128i point = _mm_cmpeq_epi8(bytes, _mm_set1_epi8('.'));
  const auto body = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(digit, point)));
  const int length = __builtin_ctz(~body);
  if (length > 8) return nullptr;
  const unsigned points = static_cast<unsigned>(_mm_movemask_epi8(point)) & ((1u << length) - 1);
  const int digits = length - (points != 0);
  if ((points & (points - 1)) != 0 || digits == 0 || (p[length] | 0x20) == 'e') return nullptr;
  const int at = points != 0 ? __builtin_ctz(points) : length;

  // Little-endian: the first digit is the lowest byte. The point's byte is
  // cut out, the digits are moved to the top bytes behind leading zeros,
  // then neighbours are joined in pairs, fours and the eight.
  std::uint64_t text;
  std::memcpy(&text, p, sizeof text);
  const std::uint64_t before = at == 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * at)) - 1;
  text = (text & before) | ((text >> 8) & ~before);
  text = (text - 0x3030303030303030) << (8 * (8 - digits));
  text = text * 10 + (text >> 8);
  text = text & 0x00FF00FF00FF00FF;
  text = (text * 100 + (text >> 16)) & 0x0000FFFF0000FFFF;
  const std::uint64_t m = (text & 0xFFFFFFFF) * 10000 + (text >> 32);
  const int fraction = points != 0 ? length - at - 1 : 0;
  magnitude = static_cast<double>(m) / kExactPowers[fraction];
  return p + length;
}
#endif

}  // namespace detail

// A real token of at most 19 digits (sign, point and exponent of up to three
// digits allowed) whose digits form an integer m <= 2^53 and whose value is
// m * 10^e or m / 10^e with e <= 22: both operands are exact doubles, so one
// correctly rounded operation gives the correctly rounded value. Returns the
// end of the token and sets value, or nullptr (value untouched) when declined.
// The token must not be the whole of the bytes before last: fewer than
// kFastWindow bytes from first to last are always declined.
[[gnu::always_inline]] inline const char* fastReal(const char* first, const char* last,
                                                   double& value) {
  if (last - first < kFastWindow) return nullptr;
  const char* p = first;
  const bool negative = *p == '-';
  p += negative || *p == '+';
#if defined(__SSE2__)
  double shortMagnitude;
  if (const char* end = detail::shortPlainReal(p, shortMagnitude)) {
    value = negative ? -shortMagnitude : shortMagnitude;
    return end;
  }
#endif
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
[[gnu::always_inline]] inline const char* fastInteger(const char* first, const char* last,
                                                      std::int32_t& value) {
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

// Bytes that must be readable from a block of 64 that fastReals looks at.
inline constexpr std::ptrdiff_t kBlockWindow = 128 + kFastWindow;

namespace detail {

// The bytes that separate tokens: SP HT LF VT FF CR.
inline bool isSpace(char c) { return c == ' ' || static_cast<unsigned char>(c - '\t') < 5; }

// A bit for each of the 64 bytes at block that starts a token, the byte
// before block counting as a space.
inline std::uint64_t tokenStarts(const char* block) {
  std::uint64_t spaces = 0;
#if defined(__SSE2__)
  for (int part = 0; part < 4; ++part) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * part));
    const __m128i fromTab = _mm_sub_epi8(bytes, _mm_set1_epi8('\t'));
    const __m128i space =
        _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(' ')),
                     _mm_cmpeq_epi8(_mm_min_epu8(fromTab, _mm_set1_epi8(4)), fromTab));
    spaces |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(space))} << (16 * part);
  }
#else
  for (int i = 0; i < 64; ++i) spaces |= std::uint64_t{isSpace(block[i])} << i;
#endif
  const std::uint64_t inToken = ~spaces;
  return inToken & ~(inToken << 1);
}

// One token after another, each by fastReal.
inline std::int32_t narrowReals(const char* first, const char* last, std::int32_t limit,
                                double* out, const char*& end) {
  std::int32_t done = 0;
  end = first;
  for (const char* block = first; last - block >= kBlockWindow && done < limit;) {
    for (std::uint64_t starts = tokenStarts(block); starts != 0 && done < limit;
         starts &= starts - 1) {
      const char* token = block + __builtin_ctzll(starts);
      const char* tokenEnd = fastReal(token, token + kFastWindow, out[done]);
      if (tokenEnd == nullptr || !isSpace(*tokenEnd)) return done;
      end = tokenEnd;
      ++done;
    }
    block = end > block + 64 ? end : block + 64;
  }
  return done;
}

#if defined(SEEDMATCH_WIDE_REALS)
#define SEEDMATCH_WIDE_TARGET "avx512f,avx512bw,avx512dq,avx512cd,avx512vbmi,avx512vbmi2,bmi2"

[[gnu::target(SEEDMATCH_WIDE_TARGET), gnu::always_inline]] inline std::uint64_t wideSpaces(
    __m512i bytes) {
  return _mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8(' ')) |
         _mm512_cmple_epu8_mask(_mm512_sub_epi8(bytes, _mm512_set1_epi8('\t')),
                                _mm512_set1_epi8(4));
}

// narrowReals for eight tokens at a time, one in each 64-bit lane: tokens of
// at most eight bytes of digits and one point, after a sign. The same
// integer m and the same single division as fastReal's, so the same bits.
// A block starts where the last ended or at its ninth token, so that finding
// the tokens of one does not wait for the conversions of the last.
[[gnu::target(SEEDMATCH_WIDE_TARGET)]] inline std::int32_t wideReals(
    const char* first, const char* last, std::int32_t limit, double* out, const char*& end) {
  alignas(64) static constexpr std::uint8_t kIota[64] = {
      0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21,
      22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43,
      44, 45, 46, 47, 48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63};
  const __m512i iota = _mm512_load_si512(kIota);
  const __m512i ones = _mm512_set1_epi64(-1);
  const __m512i one = _mm512_set1_epi64(1);
  const __m512i eight = _mm512_set1_epi64(8);
  const __m512i byteSteps = _mm512_set1_epi64(0x0706050403020100);
  const __m512i laneFirstByte = _mm512_set4_epi64(0x0808080808080808, 0, 0x0808080808080808, 0);
  const __m512d powers = _mm512_setr_pd(1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7);

  std::int32_t done = 0;
  const char* lastStart = nullptr;  // of the last token converted
  std::uint64_t carry = 0;          // whether the byte before block is in a token
  for (const char* block = first; last - block >= kBlockWindow && done < limit;) {
    __builtin_prefetch(block + 512);  // text in memory (not a buffer just read) streams in ahead
    const __m512i low = _mm512_loadu_si512(block);
    const __m512i high = _mm512_loadu_si512(block + 64);
    const std::uint64_t inLow = ~wideSpaces(low);
    const std::uint64_t inHigh = ~wideSpaces(high);
    std::uint64_t starts = inLow & ~((inLow << 1) | carry);
    // The space that ends each token of the 128 bytes; a token that began in
    // an earlier block has its end dropped, and the one token that may end
    // past 128 bytes is longer than any taken here.
    std::uint64_t endsLow = ~inLow & ((inLow << 1) | carry);
    std::uint64_t endsHigh = ~inHigh & ((inHigh << 1) | (inLow >> 63));
    if (carry != 0) {
      if (endsLow != 0) {
        endsLow &= endsLow - 1;
      } else {
        endsHigh &= endsHigh - 1;
      }
    }
    // Eight tokens at most, one to a lane: a ninth starts the next block.
    const char* next = block + 64;
    carry = inLow >> 63;
    if (__builtin_popcountll(starts) > 8) {
      const int ninth = __builtin_ctzll(_pdep_u64(std::uint64_t{1} << 8, starts));
      next = block + ninth;
      carry = 0;
      starts &= (std::uint64_t{1} << ninth) - 1;
    }
    const int lanes = std::min<std::int32_t>(__builtin_popcountll(starts), limit - done);
    if (lanes == 0) {
      block = next;
      continue;
    }
    const __m512i start =
        _mm512_cvtepu8_epi64(_mm512_castsi512_si128(_mm512_maskz_compress_epi8(starts, iota)));
    const __m512i stop = _mm512_cvtepu8_epi64(_mm512_castsi512_si128(_mm512_mask_expand_epi8(
        _mm512_maskz_compress_epi8(endsLow, iota),
        ~std::uint64_t{0} << __builtin_popcountll(endsLow),
        _mm512_maskz_compress_epi8(endsHigh, _mm512_add_epi8(iota, _mm512_set1_epi8(64))))));
    // Byte j of lane k is block[start_k + j], then the same after a sign.
    const __m512i at = _mm512_add_epi8(_mm512_shuffle_epi8(start, laneFirstByte), byteSteps);
    const __m512i lead =
        _mm512_and_si512(_mm512_permutex2var_epi8(low, at, high), _mm512_set1_epi64(0xff));
    const __mmask8 negative = _mm512_cmpeq_epi64_mask(lead, _mm512_set1_epi64('-'));
    const __mmask8 sign = negative | _mm512_cmpeq_epi64_mask(lead, _mm512_set1_epi64('+'));
    __m512i text =
        _mm512_permutex2var_epi8(low, _mm512_sub_epi8(at, _mm512_movm_epi64(sign)), high);
    const __m512i length = _mm512_mask_sub_epi64(_mm512_sub_epi64(stop, start), sign,
                                                 _mm512_sub_epi64(stop, start), one);
    __mmask8 valid = _mm512_cmple_epu64_mask(length, eight);
    const __m512i kept =
        _mm512_andnot_si512(_mm512_sllv_epi64(ones, _mm512_slli_epi64(length, 3)), ones);
    const __mmask64 digitBytes =
        _mm512_cmplt_epu8_mask(_mm512_sub_epi8(text, _mm512_set1_epi8('0')), _mm512_set1_epi8(10));
    const __mmask64 pointBytes = _mm512_cmpeq_epi8_mask(text, _mm512_set1_epi8('.'));
    const __m512i body = _mm512_movm_epi8(digitBytes | pointBytes);
    valid &= _mm512_cmpeq_epi64_mask(_mm512_and_si512(body, kept), kept);
    const __m512i points =
        _mm512_and_si512(_mm512_and_si512(_mm512_movm_epi8(pointBytes), kept), _mm512_set1_epi8(1));
    valid &= _mm512_testn_epi64_mask(points, _mm512_sub_epi64(points, one));  // one point at most
    const __mmask8 hasPoint = _mm512_test_epi64_mask(points, points);
    const __m512i digits = _mm512_mask_sub_epi64(length, hasPoint, length, one);
    valid &= _mm512_cmpgt_epi64_mask(digits, _mm512_setzero_si512());
    const __m512i pointAt = _mm512_mask_mov_epi64(
        length, hasPoint,
        _mm512_srli_epi64(_mm512_sub_epi64(_mm512_set1_epi64(63), _mm512_lzcnt_epi64(points)), 3));
    // Cut the point out, put the digits behind leading zeros, join them.
    const __m512i before =
        _mm512_andnot_si512(_mm512_sllv_epi64(ones, _mm512_slli_epi64(pointAt, 3)), ones);
    text = _mm512_ternarylogic_epi64(before, text, _mm512_srli_epi64(text, 8),
                                     0xca);  // before ? text : text >> 8
    text = _mm512_sub_epi8(text, _mm512_set1_epi8('0'));
    text = _mm512_sllv_epi64(text, _mm512_slli_epi64(_mm512_sub_epi64(eight, digits), 3));
    const __m512i pairs = _mm512_maddubs_epi16(text, _mm512_set1_epi16(0x010a));
    const __m512i fours = _mm512_madd_epi16(pairs, _mm512_set1_epi32(0x00010064));
    const __m512i m = _mm512_add_epi64(_mm512_mul_epu32(fours, _mm512_set1_epi64(10000)),
                                       _mm512_srli_epi64(fours, 32));
    const __m512i fraction =
        _mm512_maskz_sub_epi64(hasPoint, _mm512_sub_epi64(length, pointAt), one);
    const __m512d magnitude =
        _mm512_div_pd(_mm512_cvtepu64_pd(m), _mm512_permutexvar_pd(fraction, powers));
    const __m512i bits = _mm512_castpd_si512(magnitude);
    const __m512d value = _mm512_castsi512_pd(
        _mm512_mask_xor_epi64(bits, negative, bits, _mm512_set1_epi64(std::int64_t{1} << 63)));
    const int taken = __builtin_ctz(~static_cast<unsigned>(valid) | (1u << lanes));
    _mm512_mask_storeu_pd(out + done, static_cast<__mmask8>((1u << taken) - 1), value);
    done += taken;
    if (taken > 0)
      lastStart = block + __builtin_ctzll(_pdep_u64(std::uint64_t{1} << (taken - 1), starts));
    if (taken < lanes) break;
    block = next;
  }
  end = first;
  if (lastStart != nullptr) {
    end = lastStart;
    while (!isSpace(*end)) ++end;
  }
  return done;
}
#endif

}  // namespace detail

// Whether this CPU can run the wide form of fastReals.
inline bool wideRealsAvailable() {
#if defined(SEEDMATCH_WIDE_REALS)
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512cd") &&
         __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vbmi2") &&
         __builtin_cpu_supports("bmi2");
#else
  return false;
#endif
}

// Converts the real tokens from first on, in order and at most limit of
// them, each as fastReal would, stopping before the first that fastReal
// declines or that a space does not end, and before the first that starts
// in a block of 64 bytes with fewer than kBlockWindow bytes from it to last;
// the byte before first counts as a space. Returns how many it converted into
// out and sets end after the last of them (first when none). wide selects
// eight tokens at a time, where wideRealsAvailable(); it takes only tokens
// of at most eight digits and points after their sign.
inline std::int32_t fastReals(const char* first, const char* last, std::int32_t limit, double* out,
                              const char*& end, bool wide) {
#if defined(SEEDMATCH_WIDE_REALS)
  if (wide) return detail::wideReals(first, last, limit, out, end);
#else
  static_cast<void>(wide);
#endif
  return detail::narrowReals(first, last, limit, out, end);
}

}  // namespace seedmatch
