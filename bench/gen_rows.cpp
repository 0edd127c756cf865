// seedmatch-gen-rows: writes the seed file that gen_scenes.py hands it, with
// every distance row formatted here, byte for byte what Python's
// "%.6g" % math.dist(p, q) gives.
//
// std::to_chars(general, 6) prints what "%.6g" prints for the same double, but
// sqrt of the sum of squares may differ from math.dist in the last bits. That
// only changes the text of a value lying within a few units in the last place
// of a rounding tie of six digits, so the program asks for those few values:
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
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
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

// Whether d lies so near a rounding tie of six significant digits that a value
// a few units in the last place away may print otherwise.
// Generous: 1e-8 of the sixth digit is some 45 units in the last place.
bool nearTie(double d) {
  static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                      1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                      1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  if (d == 0.0) return false;
  if (!std::isfinite(d)) return true;
  // The exponent e that puts d * 10^(5 - e) in [1e5, 1e6); one rounding, so
  // the product is off by less than 1.2e-10.
  int e = 2;
  for (int step = 0; step < 64 && e >= -17 && e <= 27; ++step) {
    const double scaled = e <= 5 ? d * kPow10[5 - e] : d / kPow10[e - 5];
    if (scaled < 1e5) {
      --e;
    } else if (scaled >= 1e6) {
      ++e;
    } else {
      return std::fabs(scaled - std::floor(scaled) - 0.5) < 1e-8;
    }
  }
  return true;
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
      (!pairs.empty() && std::fwrite(pairs.data(), sizeof pairs[0], pairs.size(), stdout) != pairs.size()) ||
      std::fflush(stdout) != 0)
    fail("cannot write the near-tie pairs");

  std::string answers;
  char block[1 << 16];
  for (std::size_t got; (got = std::fread(block, 1, sizeof block, stdin)) > 0;) answers.append(block, got);
  const auto lines = splitLines(answers);
  if (lines.size() != pairs.size()) fail("the near-tie answers do not match the pairs");
  std::vector<Override> overrides;
  for (std::size_t k = 0; k < pairs.size(); k += 2) {
    const auto i = pairs[k], j = pairs[k + 1];
    overrides.push_back({i, j, std::string(lines[k].substr(0, lines[k].size() - 1))});
    overrides.push_back({j, i, std::string(lines[k + 1].substr(0, lines[k + 1].size() - 1))});
  }
  std::sort(overrides.begin(), overrides.end(),
            [](const Override& a, const Override& b) { return a.row != b.row ? a.row < b.row : a.col < b.col; });
  return overrides;
}

void writeAll(std::FILE* out, std::string_view bytes) {
  if (std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) fail("cannot write the seed file");
}

void writeSeedFile(std::FILE* out, const std::vector<Position>& positions,
                   const std::vector<std::string_view>& lines, const std::vector<Override>& overrides) {
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
        p = std::to_chars(p, p + 16, distance(positions[i], positions[j]), std::chars_format::general, 6).ptr;
      }
      *p++ = ' ';
    }
    if (n != 0) p[-1] = '\n';
    writeAll(out, {row.data(), static_cast<std::size_t>(p - row.data())});
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) fail("usage: seedmatch-gen-rows OUT");
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
