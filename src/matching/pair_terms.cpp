#include "seedmatch/matching/pair_terms.h"

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <system_error>
#include <thread>

#include "fixed_part.h"
#include "seedmatch/seed/system_error.h"

namespace seedmatch {
namespace {

constexpr std::size_t kMostThreads = 2;
constexpr std::size_t kRowsPerThread = 64;    // below this a second thread costs more than it saves
constexpr std::size_t kColumnsPerTile = 256;  // some 110 KB of columns, for the second-level cache

}  // namespace

PairTerms preparePairTerms(const SeedSet& set1, const SeedSet& set2, const SeedDistWeights& w,
                           std::stop_token stop) {
  PairTerms terms;
  terms.size1 = set1.size();
  terms.size2 = set2.size();
  terms.seedDist.resize(terms.size1 * terms.size2);
  terms.pcal.resize(terms.size1 * terms.size2);
  if (terms.seedDist.empty()) return terms;
  const bool columnar = uniformLayout(set1) && uniformLayout(set2);
  ObjectColumns columns;
  if (columnar) {
    std::vector<std::int32_t> all(set2.size());
    std::iota(all.begin(), all.end(), 0);
    columns = makeColumns(set2, all, set1.front());
  }
  // Rows i, i + step, ...: the threads write disjoint rows. Every row takes a
  // tile of columns in turn, so that the tile is read from cache.
  const auto fillRows = [&](std::size_t from, std::size_t step) {
    for (std::size_t first = 0; first < set2.size(); first += kColumnsPerTile) {
      const std::size_t last = std::min(set2.size(), first + kColumnsPerTile);
      for (std::size_t i = from; i < set1.size() && !stop.stop_requested(); i += step) {
        double* seedDistRow = terms.seedDist.data() + i * terms.size2;
        double* pcalRow = terms.pcal.data() + i * terms.size2;
        if (columnar) {
          termsRange(set1[i], columns, w, first, last, seedDistRow + first, pcalRow + first);
          continue;
        }
        for (std::size_t k = first; k < last; ++k) {
          seedDistRow[k] = seedDist(set1[i], set2[k], w);
          pcalRow[k] = pcal(set1[i], set2[k], static_cast<std::int32_t>(set1.size()));
        }
      }
    }
  };
  const std::size_t threads =
      std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, kMostThreads);
  if (threads == 1 || set1.size() < kRowsPerThread) {
    fillRows(0, 1);
    return terms;
  }
  std::jthread helper;
  try {
    helper = startThread<std::jthread>([&] { fillRows(1, 2); });
  } catch (const std::system_error&) {  // no thread to be had: every row on this one
    fillRows(0, 1);
    return terms;
  }
  fillRows(0, 2);
  helper.join();
  return terms;
}

}  // namespace seedmatch
