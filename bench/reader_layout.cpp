// seedmatch-read-layout: what the seed record's layout costs the reader in
// fresh memory. Fills N rows of N distances, as the reader stores one file's,
// either as N vectors of their own (the layout of SEED::neibDist, each
// reserved and populated in one call as the reader does) or as one N x N
// matrix in a single mapping with transparent huge pages asked for. Each
// filling runs in a fresh child process, so that every page is new, and the
// two alternate; prints the median seconds of each and their ratio.
//
// usage: seedmatch-read-layout [--runs R] N
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void populate(void* data, std::size_t bytes) {
#if defined(MADV_POPULATE_WRITE)
  constexpr std::uintptr_t kPage = 4096;
  const auto first = (reinterpret_cast<std::uintptr_t>(data) + kPage - 1) & ~(kPage - 1);
  const auto last = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(kPage - 1);
  if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
#else
  static_cast<void>(data), static_cast<void>(bytes);
#endif
}

// Seconds to fill the rows, in this process; the sum keeps the stores.
double fill(std::size_t n, bool matrix) {
  const auto start = std::chrono::steady_clock::now();
  double sum = 0.0;
  if (matrix) {
    const std::size_t bytes = n * n * sizeof(double);
    void* map = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED) std::exit(2);
    ::madvise(map, bytes, MADV_HUGEPAGE);
    populate(map, bytes);
    auto* values = static_cast<double*>(map);
    for (std::size_t i = 0; i < n; ++i) {
      for (std::size_t j = 0; j < n; ++j) values[i * n + j] = static_cast<double>(i ^ j);
      sum += values[i * n + i / 2];
    }
  } else {
    std::vector<std::vector<double>> rows(n);
    for (std::size_t i = 0; i < n; ++i) {
      rows[i].reserve(n);
      populate(rows[i].data(), n * sizeof(double));
      for (std::size_t j = 0; j < n; ++j) rows[i].push_back(static_cast<double>(i ^ j));
      sum += rows[i][i / 2];
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return sum < 0.0 ? -seconds : seconds;
}

// fill() in a fresh child process.
double fillInChild(std::size_t n, bool matrix) {
  int fds[2];
  if (::pipe(fds) != 0) std::exit(2);
  const pid_t child = ::fork();
  if (child == 0) {
    const double seconds = fill(n, matrix);
    [[maybe_unused]] const ssize_t written = ::write(fds[1], &seconds, sizeof seconds);
    ::_exit(0);
  }
  double seconds = 0.0;
  if (child < 0 || ::read(fds[0], &seconds, sizeof seconds) != sizeof seconds) std::exit(2);
  ::waitpid(child, nullptr, 0);
  ::close(fds[0]), ::close(fds[1]);
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 7;
  long n = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else {
      n = std::atol(argv[i]);
    }
  }
  if (n <= 0) {
    std::fprintf(stderr, "seedmatch: usage: seedmatch-read-layout [--runs R] N\n");
    return 2;
  }
  std::vector<double> rows, matrix, ratios;
  for (int run = 0; run < runs; ++run) {
    rows.push_back(fillInChild(static_cast<std::size_t>(n), false));
    matrix.push_back(fillInChild(static_cast<std::size_t>(n), true));
    ratios.push_back(matrix.back() / rows.back());
  }
  std::printf("N = %ld (%.0f MB of distances), %d runs alternated\n", n, 8.0 * n * n / 1e6, runs);
  std::printf("vectors per row   %8.3f s\none huge-page matrix %6.3f s\nmatrix / vectors  %8.2f\n",
              median(rows), median(matrix), median(ratios));
  return 0;
}
