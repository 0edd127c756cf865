// seedmatch-read-throughput: how fast the seed reader converts text, against a
// bare std::from_chars loop over the same bytes held in memory.
//
// usage: seedmatch-read-throughput [--runs N] FILE...
//
// Each run reads every FILE three ways, one right after the other: with
// readSeed from the file, with readSeedText from memory, and with the bare
// loop from memory. Prints the median MB/s (10^6 bytes per second) of each,
// and the median over the runs of each reader's speed as a fraction of the
// loop's in the same run, which is steadier on a shared machine.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "seed/seed.h"

namespace {

using Clock = std::chrono::steady_clock;

bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Converts every token as a double and nothing more; returns their sum so
// that the conversions cannot be optimised away.
double bareLoop(const std::string& text, std::size_t& tokens) {
  const char* p = text.data();
  const char* const end = p + text.size();
  double sum = 0.0;
  for (;;) {
    while (p != end && isSpace(*p)) ++p;
    if (p == end) break;
    double value = 0.0;
    const auto [next, ec] = std::from_chars(p, end, value);
    if (ec != std::errc{}) {
      std::fprintf(stderr, "seedmatch: bare loop cannot convert a token\n");
      std::exit(2);
    }
    sum += value;
    ++tokens;
    p = next;
  }
  return sum;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

double seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 7;
  std::vector<std::string> paths;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else {
      paths.push_back(arg);
    }
  }
  if (paths.empty()) {
    std::fprintf(stderr, "seedmatch: usage: seedmatch-read-throughput [--runs N] FILE...\n");
    return 2;
  }

  std::vector<std::string> texts;
  double bytes = 0.0;
  for (const auto& path : paths) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    texts.push_back(content.str());
    bytes += static_cast<double>(texts.back().size());
  }

  std::vector<double> fileTimes, memoryTimes, bareTimes;
  std::size_t seeds = 0, tokens = 0;
  double checksum = 0.0;
  for (int run = 0; run < runs; ++run) {
    auto start = Clock::now();
    for (const auto& path : paths) {
      seedmatch::SeedSet set;
      if (const auto error = seedmatch::readSeed(path, set)) {
        std::fprintf(stderr, "%s\n", seedmatch::formatReadError(*error).c_str());
        return 2;
      }
      seeds = set.size();
    }
    fileTimes.push_back(seconds(start));

    start = Clock::now();
    for (std::size_t f = 0; f < texts.size(); ++f) {
      seedmatch::SeedSet set;
      if (const auto error = seedmatch::readSeedText(texts[f], paths[f], set)) {
        std::fprintf(stderr, "%s\n", seedmatch::formatReadError(*error).c_str());
        return 2;
      }
    }
    memoryTimes.push_back(seconds(start));

    start = Clock::now();
    tokens = 0;
    for (const auto& text : texts) checksum += bareLoop(text, tokens);
    bareTimes.push_back(seconds(start));
  }

  const double mb = bytes / 1e6;
  const auto at = [](const std::vector<double>& v, int i) { return v[static_cast<std::size_t>(i)]; };
  const double fileRate = mb / median(fileTimes);
  const double memoryRate = mb / median(memoryTimes);
  const double bareRate = mb / median(bareTimes);
  std::printf("input: %zu file(s), %.1f MB, %zu tokens, %d runs (checksum %.6g, last file %zu seeds)\n",
              paths.size(), mb, tokens, runs, checksum, seeds);
  std::printf("readSeed from file      %8.1f MB/s\n", fileRate);
  std::printf("readSeedText from memory %7.1f MB/s\n", memoryRate);
  std::printf("bare from_chars loop    %8.1f MB/s\n", bareRate);
  std::vector<double> fileRatios, memoryRatios;
  for (int run = 0; run < runs; ++run) {
    fileRatios.push_back(at(bareTimes, run) / at(fileTimes, run));
    memoryRatios.push_back(at(bareTimes, run) / at(memoryTimes, run));
  }
  std::printf("speed of readSeed / bare loop      %.2f (median of per-run ratios)\n", median(fileRatios));
  std::printf("speed of readSeedText / bare loop  %.2f (median of per-run ratios)\n", median(memoryRatios));
  return 0;
}
