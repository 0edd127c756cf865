#include "dense_rpd.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "shared.h"

namespace seedmatch {
namespace {

// sum[j] += |row[j] - h| for every j < n. The entries are independent, so
// wide vectors give each the same bits.
SEEDMATCH_CLONES
void addRow(const double* row, double h, std::size_t n, double* sum) {
  for (std::size_t j = 0; j < n; ++j) sum[j] = sum[j] + std::fabs(row[j] - h);
}

}  // namespace

bool distancesModerate(const SeedSet& seeds, const std::stop_token& stop) {
  constexpr double kModerate = 1e290;  // 2^31 terms of twice this stay finite
  for (const SEED& s : seeds) {
    if (stop.stop_requested()) return false;
    for (double d : s.neibDist) {
      if (!(std::fabs(d) <= kModerate)) return false;
    }
  }
  return true;
}

bool distancesSymmetric(const SeedSet& objects, const std::stop_token& stop) {
  const std::size_t n = objects.size();
  constexpr std::size_t kTile = 64;
  for (std::size_t a = 0; a < n; a += kTile) {
    if (stop.stop_requested()) return false;
    for (std::size_t c = a; c < n; c += kTile) {
      for (std::size_t j = a; j < std::min(n, a + kTile); ++j) {
        for (std::size_t k = c; k < std::min(n, c + kTile); ++k) {
          if (std::bit_cast<std::uint64_t>(objects[j].neibDist[k]) !=
              std::bit_cast<std::uint64_t>(objects[k].neibDist[j])) {
            return false;
          }
        }
      }
    }
  }
  return true;
}

void rpdSumsAlongHeldRows(const std::vector<std::int32_t>& held,
                          const std::vector<const double*>& heldRows,
                          const std::vector<double>& holderDist, std::size_t objectCount,
                          std::vector<double>& sums, const std::stop_token& stop) {
  constexpr std::size_t kRowsBetweenStops = 64;
  sums.assign(objectCount, 0.0);
  for (std::size_t i = 0; i < held.size(); ++i) {
    if (i % kRowsBetweenStops == 0 && stop.stop_requested()) return;
    // Object k's own entry is skipped by putting its sum back.
    const auto k = static_cast<std::size_t>(held[i]);
    const double own = sums[k];
    addRow(heldRows[i], holderDist[i], objectCount, sums.data());
    sums[k] = own;
  }
}

void rpdSumsSideBySide(const SeedSet& objects, const std::array<std::int32_t, kSumLanes>& object,
                       std::size_t m, const std::vector<std::int32_t>& held,
                       const std::vector<double>& holderDist,
                       const std::vector<std::int32_t>& heldFlag,
                       std::array<double, kSumLanes>& sum) {
  std::array<const double*, kSumLanes> row{};
  for (std::size_t l = 0; l < kSumLanes; ++l) {
    row[l] = objects[static_cast<std::size_t>(object[std::min(l, m - 1)])].neibDist.data();
  }
  sum.fill(0.0);
  const auto addAll = [&](std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) {
      const std::int32_t k = held[i];
      const double h = holderDist[i];
      for (std::size_t l = 0; l < kSumLanes; ++l) sum[l] = sum[l] + std::fabs(row[l][k] - h);
    }
  };
  // A held lane object splits the run: every other lane adds its term there.
  std::size_t i = 0;
  for (std::size_t l = 0; l < m; ++l) {
    const std::int32_t j = object[l];
    if (!heldFlag[static_cast<std::size_t>(j)]) continue;
    const auto self =
        static_cast<std::size_t>(std::lower_bound(held.begin(), held.end(), j) - held.begin());
    addAll(i, self);
    for (std::size_t o = 0; o < kSumLanes; ++o) {
      if (o != l) sum[o] = sum[o] + std::fabs(row[o][j] - holderDist[self]);
    }
    i = self + 1;
  }
  addAll(i, held.size());
}

}  // namespace seedmatch
