// seedmatch-read-throughput: how fast the seed reader turns files into seed
// sets, beside a bare std::from_chars loop over the same bytes held in memory
// and beside zcat inflating the same gzip files.
//
// usage: seedmatch-read-throughput [--runs N] FILE1 FILE2 GZIP1 GZIP2
//
// GZIP1 and GZIP2 hold FILE1 and FILE2 compressed. Each run times, one right
// after the other: the bare loop over FILE1's bytes and over both files'
// bytes; readSeed on FILE1 and on GZIP1; readSeed on each file in turn;
// readSeedPair on the two files and on the two gzip files; zcat on GZIP1 and
// on both gzip files, output thrown away. Prints for each the median seconds,
// MB/s (10^6 bytes of text per second) and the median over the runs of its
// time over the bare loop's time on the same bytes in the same run, which is
// steadier on a shared machine than either time alone.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "from_chars_loop.h"
#include "seedmatch/seed/seed.h"

namespace {

using Clock = std::chrono::steady_clock;

// Converts every token as a double and nothing more.
double bareLoop(const std::string& text) {
  seedmatch::bench::LoopResult result;
  seedmatch::bench::fromCharsLoop(text.data(), text.data() + text.size(), result);
  if (!result.converted) {
    std::fprintf(stderr, "seedmatch: bare loop cannot convert a token\n");
    std::exit(2);
  }
  return result.sum;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

double timed(const std::function<void()>& work) {
  const auto start = Clock::now();
  work();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void check(const std::optional<seedmatch::ReadError>& error) {
  if (error) {
    std::fprintf(stderr, "%s\n", seedmatch::formatReadError(*error).c_str());
    std::exit(2);
  }
}

// zcat on the files, its output to /dev/null. Spawned without fork(), whose
// copy-on-write would make the next reader rows fault on their reused heap.
void zcat(const std::vector<std::string>& files) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv{const_cast<char*>("zcat")};
  for (const auto& f : files) argv.push_back(const_cast<char*>(f.c_str()));
  argv.push_back(nullptr);
  pid_t child = 0;
  const int spawned = posix_spawnp(&child, "zcat", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (spawned == 0) ::waitpid(child, &status, 0);
  if (spawned != 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "seedmatch: zcat failed\n");
    std::exit(2);
  }
}

std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
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
  if (paths.size() != 4) {
    std::fprintf(
        stderr, "seedmatch: usage: seedmatch-read-throughput [--runs N] FILE1 FILE2 GZIP1 GZIP2\n");
    return 2;
  }
  const std::string& a = paths[0];
  const std::string& b = paths[1];
  const std::string& gzA = paths[2];
  const std::string& gzB = paths[3];
  const std::string textA = contents(a), textBoth = textA + "\n" + contents(b);

  struct Row {
    const char* name;
    bool pair;  // over both files' bytes, else FILE1's
    std::function<void()> work;
    std::vector<double> times, ratios;
  };
  double checksum = 0.0;
  std::vector<Row> rows;
  rows.push_back(
      {"bare from_chars loop, one file", false, [&] { checksum += bareLoop(textA); }, {}, {}});
  rows.push_back(
      {"bare from_chars loop, pair", true, [&] { checksum += bareLoop(textBoth); }, {}, {}});
  rows.push_back({"readSeed, one file",
                  false,
                  [&] {
                    seedmatch::SeedSet s;
                    check(seedmatch::readSeed(a, s));
                  },
                  {},
                  {}});
  rows.push_back({"readSeed, one gzip file",
                  false,
                  [&] {
                    seedmatch::SeedSet s;
                    check(seedmatch::readSeed(gzA, s));
                  },
                  {},
                  {}});
  rows.push_back({"readSeed, pair in turn",
                  true,
                  [&] {
                    seedmatch::SeedSet s1, s2;
                    check(seedmatch::readSeed(a, s1));
                    check(seedmatch::readSeed(b, s2));
                  },
                  {},
                  {}});
  rows.push_back({"readSeedPair, pair",
                  true,
                  [&] {
                    seedmatch::SeedSet s1, s2;
                    check(seedmatch::readSeedPair(a, b, s1, s2));
                  },
                  {},
                  {}});
  rows.push_back({"readSeedPair, gzip pair",
                  true,
                  [&] {
                    seedmatch::SeedSet s1, s2;
                    check(seedmatch::readSeedPair(gzA, gzB, s1, s2));
                  },
                  {},
                  {}});
  rows.push_back({"zcat, one gzip file", false, [&] { zcat({gzA}); }, {}, {}});
  rows.push_back({"zcat, gzip pair", true, [&] { zcat({gzA, gzB}); }, {}, {}});

  for (int run = 0; run < runs; ++run) {
    for (Row& row : rows) row.times.push_back(timed(row.work));
    for (Row& row : rows)
      row.ratios.push_back(row.times.back() / rows[row.pair ? 1 : 0].times.back());
  }

  std::printf("%d runs; one file %.1f MB, pair %.1f MB of text (checksum %.6g)\n", runs,
              static_cast<double>(textA.size()) / 1e6,
              static_cast<double>(textBoth.size() - 1) / 1e6, checksum);
  std::printf("%-32s %10s %10s %18s\n", "", "median s", "MB/s", "time / bare loop");
  for (const Row& row : rows) {
    const double bytes = static_cast<double>(row.pair ? textBoth.size() - 1 : textA.size());
    std::printf("%-32s %10.4f %10.1f %18.2f\n", row.name, median(row.times),
                bytes / 1e6 / median(row.times), median(row.ratios));
  }
  return 0;
}
