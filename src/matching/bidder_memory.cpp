#include "bidder_memory.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace seedmatch {

namespace {

double largestOf(const double* v, std::size_t n) {
  double top = -std::numeric_limits<double>::infinity();
  std::size_t i = 0;
#if defined(__SSE2__)
  // NaN is dropped first (max gives its second operand then), so that the
  // lanes can be combined in a tree rather than one after the other.
  const __m128d none = _mm_set1_pd(top);
  const auto at = [&](std::size_t k) { return _mm_max_pd(_mm_loadu_pd(v + k), none); };
  __m128d wide = none;
  for (; i + 8 <= n; i += 8) {
    const __m128d a = _mm_max_pd(at(i), at(i + 2)), b = _mm_max_pd(at(i + 4), at(i + 6));
    wide = _mm_max_pd(wide, _mm_max_pd(a, b));
  }
  for (; i + 2 <= n; i += 2) wide = _mm_max_pd(wide, at(i));
  std::array<double, 2> halves{};
  _mm_storeu_pd(halves.data(), wide);
  top = std::max(halves[0], halves[1]);
#endif
  for (; i < n; ++i) top = v[i] > top ? v[i] : top;
  return top;
}

}  // namespace

double largestBounds(const double* bound, std::size_t n, std::size_t keep,
                     std::vector<RunnerUp>& leaders, BoundBlocks& blocks) {
  const std::size_t count = (n + kBoundBlock - 1) / kBoundBlock;
  blocks.top.resize(count);
  for (std::size_t i = 0; i < count; ++i)
    blocks.top[i] = largestOf(bound + i * kBoundBlock, std::min(kBoundBlock, n - i * kBoundBlock));
  // The keep + 1 blocks with the largest tops, largest first: the leaders
  // and the largest of the others all lie in blocks that reach the last of
  // them, floor. Those blocks are read largest top first, so that few bounds
  // pass rest once the leaders are full.
  std::vector<RunnerUp>& largest = blocks.largest;
  largest.clear();
  for (std::size_t i = 0; i < count; ++i) {
    const RunnerUp block{blocks.top[i], i};
    if (largest.size() > keep) {
      if (!(block.bound > largest.back().bound)) continue;
      largest.back() = block;
    } else {
      largest.push_back(block);
    }
    for (std::size_t k = largest.size() - 1; k > 0 && largest[k].bound > largest[k - 1].bound; --k)
      std::swap(largest[k], largest[k - 1]);
  }
  const double floor =
      largest.size() > keep ? largest.back().bound : -std::numeric_limits<double>::infinity();
  leaders.clear();
  double rest = -std::numeric_limits<double>::infinity();
  // A heap whose front is the smallest leader, the next to be pushed out.
  const auto scan = [&](std::size_t i) {
    for (std::size_t p = i * kBoundBlock; p < std::min(n, (i + 1) * kBoundBlock); ++p) {
      if (!(bound[p] > rest)) continue;
      leaders.push_back({bound[p], p});
      std::push_heap(leaders.begin(), leaders.end(), higherBound);
      if (leaders.size() > keep) {
        std::pop_heap(leaders.begin(), leaders.end(), higherBound);
        rest = leaders.back().bound;
        leaders.pop_back();
      }
    }
  };
  blocks.done.assign(count, 0);
  for (const RunnerUp& block : largest) {
    blocks.done[block.pos] = 1;
    scan(block.pos);
  }
  for (std::size_t i = 0; i < count; ++i) {
    if (!blocks.done[i] && blocks.top[i] >= floor) scan(i);  // ties with floor
  }
  std::sort(leaders.begin(), leaders.end(), higherBound);
  return rest;
}

double movedHolderDistance(HandoverLog& log, std::int64_t mark,
                           const std::vector<std::int32_t>& owner, const double* bidderDist) {
  ++log.looks;
  double moved = 0.0;
  for (auto i = static_cast<std::size_t>(mark); i < log.object.size(); ++i) {
    const auto k = static_cast<std::size_t>(log.object[i]);
    if (log.seenAt[k] == log.looks) continue;  // only the first handover tells the old owner
    log.seenAt[k] = log.looks;
    const std::int32_t before = log.ownerBefore[i];
    const std::int32_t now = owner[k];
    if (now == before || before == -1) continue;  // a new term is counted apart
    moved += std::fabs(bidderDist[now] - bidderDist[before]);
  }
  return moved;
}

void remember(BidderMemory& last, std::size_t won, double rest,
              const std::vector<RunnerUp>& leaders, const std::vector<double>& bound) {
  last.runnersUp.clear();
  for (const RunnerUp& r : leaders) {
    if (r.pos != won) last.runnersUp.push_back({bound[r.pos], r.pos});
  }
  std::sort(last.runnersUp.begin(), last.runnersUp.end(), higherBound);
  if (last.runnersUp.size() > kRunnersUp) {
    rest = std::max(rest, last.runnersUp.back().bound);
    last.runnersUp.pop_back();
  }
  last.rest = rest;
  last.remembered = true;
}

bool driftSince(const BidderMemory& last, HandoverLog& log, const DriftBasis& basis, Drift& drift) {
  // After many handovers the drift leaves little to go on, and reading the
  // log would cost as much as a full pass.
  if (log.object.size() - static_cast<std::size_t>(last.mark) > 2 * basis.liveCount) return false;
  if (basis.heldCount != last.heldAtMark) return false;
  const double moved = movedHolderDistance(log, last.mark, basis.owner, basis.bidderDist);
  drift = {};
  if (moved == 0.0) return true;
  if (!basis.allowed || basis.heldCount < 2) return false;
  const double count = static_cast<double>(basis.heldCount - 1);
  const double relative = static_cast<double>(basis.heldCount + 8) * 0x1p-50;
  drift.none = false;
  drift.shift = basis.rpdWeight *
                    (moved * (1.0 + 1e-6) / (kRpdDivisor * count) + basis.largestRpd * relative) +
                1e-6;
  return drift.shift < 1e5;
}

}  // namespace seedmatch
