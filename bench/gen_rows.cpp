// seedmatch-gen-rows: writes the seed file that bench/scenes/files.py hands
// it, with every distance row formatted here, byte for byte what Python's
// "%.6g" % math.dist(p, q) gives.
//
// It prints a double as "%.6g" and std::to_chars(general, 6) do (--check
// compares the two), but sqrt of the sum of squares may differ from math.dist
// in the last bits. That only changes the text of a value lying within a few
// units in the last place of a rounding tie of six digits, so the program asks
// for those few values:
//
//   stdin   the count n, n positions (3 doubles each), the byte count of the
//           text lines and the lines: the file's first line, then one line
//           per seed that goes before its distance row
//   stdout  the count of near-tie pairs i < j, then the pairs
//   stdin   per pair two lines: the text of distance i-j, then of j-i
//
// Counts and indices are 8-byte unsigned integers, all in native byte order.
// Then the file is written and the status is 0.
//
// usage: seedmatch-gen-rows OUT
//        seedmatch-gen-rows --check COUNT   compares its number formatting with
//                                           std::to_chars on COUNT values
#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Position {
  double x, y, z;
};

// Which text one value of a row takes instead of its own.
struct Override {
  std::uint64_t row, col;
  std::string text;
};

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "seedmatch: %s\n", what);
  std::exit(2);
}

void readExactly(void* to, std::size_t bytes) {
  if (bytes != 0 && std::fread(to, 1, bytes, stdin) != bytes) fail("input ends early");
}

std::uint64_t readCount() {
  std::uint64_t count = 0;
  readExactly(&count, sizeof count);
  return count;
}

// The distance both passes format: never fused (-ffp-contract=off), so
// the same bits in each.
double distance(const Position& a, const Position& b) {
  const double dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

// d * 10^(5 - exponent), in [1e5, 1e6), for a finite d > 0 of decimal exponent
// -17 to 27 (found false otherwise); one rounding, so off by under 1.2e-10.
struct SixDigits {
  double scaled;
  int exponent;
  bool found;
};

SixDigits sixDigits(double d) {
  static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                      1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                      1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  // floor(log10 d) or one less, from the binary exponent.
  const int binary = static_cast<int>((std::bit_cast<std::uint64_t>(d) >> 52) & 0x7ff) - 1023;
  int e = (binary * 1233) >> 12;
  for (int step = 0; step < 4 && e >= -17 && e <= 27; ++step) {
    const double scaled = e <= 5 ? d * kPow10[5 - e] : d / kPow10[e - 5];
    if (scaled < 1e5) {
      --e;
    } else if (scaled >= 1e6) {
      ++e;
    } else {
      return {scaled, e, true};
    }
  }
  return {0.0, 0, false};
}

// Whether d lies so near a rounding tie of six significant digits that a value
// a few units in the last place away may print otherwise.
// Generous: 1e-8 of the sixth digit is at least 45 units in the last place of
// d, and the sum of squares and math.dist each lie within three of the exact
// distance.
bool nearTie(double d) {
  if (d == 0.0) return false;
  if (!(d > 0.0 && d < std::numeric_limits<double>::infinity())) return true;
  const SixDigits six = sixDigits(d);
  return !six.found || std::fabs(six.scaled - std::floor(six.scaled) - 0.5) < 1e-8;
}

// Writes d as "%.6g" does and returns the end; at most 15 bytes.
// Fixed notation away from ties here, std::to_chars for the rest.
char* writeSixDigits(char* p, double d) {
  if (d == 0.0) {
    *p = '0';
    return p + 1;
  }
  SixDigits six = nearTie(d) ? SixDigits{0.0, 0, false} : sixDigits(d);
  auto m = static_cast<std::uint32_t>(six.scaled + 0.5);
  if (m == 1000000) {
    m = 100000;
    ++six.exponent;
  }
  if (!six.found || six.exponent < -4 || six.exponent > 5)
    return std::to_chars(p, p + 15, d, std::chars_format::general, 6).ptr;
  char digits[6];
  for (int k = 5; k >= 0; --k, m /= 10) digits[k] = static_cast<char>('0' + m % 10);
  int last = 5;
  while (digits[last] == '0') --last;  // digits[0] is not 0
  const int e = six.exponent;
  if (e >= 0) {
    p = std::copy(digits, digits + e + 1, p);
    if (last > e) {
      *p++ = '.';
      p = std::copy(digits + e + 1, digits + last + 1, p);
    }
  } else {
    *p++ = '0';
    *p++ = '.';
    p = std::fill_n(p, -e - 1, '0');
    p = std::copy(digits, digits + last + 1, p);
  }
  return p;
}

std::vector<std::string_view> splitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const auto end = text.find('\n');
    if (end == std::string_view::npos) fail("a text line lacks its newline");
    lines.push_back(text.substr(0, end + 1));
    text.remove_prefix(end + 1);
  }
  return lines;
}

std::vector<Override> askForNearTies(const std::vector<Position>& positions) {
  std::vector<std::uint64_t> pairs;
  const std::size_t n = positions.size();
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i + 1; j < n; ++j)
      if (nearTie(distance(positions[i], positions[j]))) pairs.insert(pairs.end(), {i, j});
  const std::uint64_t count = pairs.size() / 2;
  if (std::fwrite(&count, sizeof count, 1, stdout) != 1 ||
      (!pairs.empty() &&
       std::fwrite(pairs.data(), sizeof pairs[0], pairs.size(), stdout) != pairs.size()) ||
      std::fflush(stdout) != 0)
    fail("cannot write the near-tie pairs");

  std::string answers;
  char block[1 << 16];
  for (std::size_t got; (got = std::fread(block, 1, sizeof block, stdin)) > 0;)
    answers.append(block, got);
  const auto lines = splitLines(answers);
  if (lines.size() != pairs.size()) fail("the near-tie answers do not match the pairs");
  std::vector<Override> overrides;
  for (std::size_t k = 0; k < pairs.size(); k += 2) {
    const auto i = pairs[k], j = pairs[k + 1];
    overrides.push_back({i, j, std::string(lines[k].substr(0, lines[k].size() - 1))});
    overrides.push_back({j, i, std::string(lines[k + 1].substr(0, lines[k + 1].size() - 1))});
  }
  std::sort(overrides.begin(), overrides.end(), [](const Override& a, const Override& b) {
    return a.row != b.row ? a.row < b.row : a.col < b.col;
  });
  return overrides;
}

void writeAll(std::FILE* out, std::string_view bytes) {
  if (std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size())
    fail("cannot write the seed file");
}

void writeSeedFile(std::FILE* out, const std::vector<Position>& positions,
                   const std::vector<std::string_view>& lines,
                   const std::vector<Override>& overrides) {
  const std::size_t n = positions.size();
  writeAll(out, lines[0]);
  std::vector<char> row(n * 16 + 1);
  auto next = overrides.begin();
  for (std::size_t i = 0; i < n; ++i) {
    writeAll(out, lines[i + 1]);
    char* p = row.data();
    for (std::size_t j = 0; j < n; ++j) {
      if (next != overrides.end() && next->row == i && next->col == j) {
        p = std::copy(next->text.begin(), next->text.end(), p);
        ++next;
      } else {
        p = writeSixDigits(p, distance(positions[i], positions[j]));
      }
      *p++ = ' ';
    }
    if (n != 0) p[-1] = '\n';
    writeAll(out, {row.data(), static_cast<std::size_t>(p - row.data())});
  }
}

// Compares writeSixDigits with std::to_chars on count values: of every
// magnitude, beside rounding ties, beside powers of ten. Returns how many differ.
std::uint64_t differences(std::uint64_t count) {
  std::mt19937_64 random(1);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  std::uint64_t differ = 0;
  for (std::uint64_t k = 0; k < count; ++k) {
    const double exponent = std::floor(uniform(random) * 34.0) - 12.0;
    double d = std::pow(10.0, exponent + uniform(random));
    if (k % 3 == 1)
      d = (std::floor(uniform(random) * 9e5) + 1e5 + 0.5) * std::pow(10.0, exponent - 5.0);
    if (k % 3 == 2) d = std::pow(10.0, exponent) * (k % 2 ? 1.0 : 9.999995);
    for (int ulps = static_cast<int>(random() % 201) - 100; ulps != 0; ulps += ulps > 0 ? -1 : 1)
      d = std::nextafter(d, ulps > 0 ? 1e300 : 0.0);
    char fast[16], plain[16];
    const auto fastEnd = writeSixDigits(fast, d);
    const auto plainEnd = std::to_chars(plain, plain + 16, d, std::chars_format::general, 6).ptr;
    if (std::string_view(fast, fastEnd) != std::string_view(plain, plainEnd)) ++differ;
  }
  return differ;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string_view(argv[1]) == "--check") {
    const std::uint64_t count = std::strtoull(argv[2], nullptr, 10);
    const std::uint64_t differ = differences(count);
    std::printf("%llu values, %llu printed otherwise than std::to_chars\n",
                static_cast<unsigned long long>(count), static_cast<unsigned long long>(differ));
    return differ == 0 ? 0 : 1;
  }
  if (argc != 2) fail("usage: seedmatch-gen-rows OUT | seedmatch-gen-rows --check COUNT");
  File out(std::fopen(argv[1], "wb"), &std::fclose);
  if (!out) {
    std::fprintf(stderr, "seedmatch: cannot open %s to write\n", argv[1]);
    return 2;
  }
  std::setvbuf(out.get(), nullptr, _IOFBF, 1 << 20);
  const std::uint64_t n = readCount();
  if (n > (std::uint64_t{1} << 24)) fail("too many seeds");
  std::vector<Position> positions(n);
  readExactly(positions.data(), n * sizeof(Position));
  std::string text(readCount(), '\0');
  readExactly(text.data(), text.size());
  const auto lines = splitLines(text);
  if (lines.size() != n + 1) fail("the text lines do not match the seeds");
  const auto overrides = askForNearTies(positions);
  for (const auto& o : overrides)
    if (o.text.empty() || o.text.size() > 15) fail("a near-tie answer is not one value");
  writeSeedFile(out.get(), positions, lines, overrides);
  if (std::fclose(out.release()) != 0) fail("cannot write the seed file");
  return 0;
}
