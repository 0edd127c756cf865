#include "bidder_memory.h"

#include <algorithm>
#include <cmath>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace seedmatch {

bool anyAtLeast(const double* v, std::size_t n, double t) {
  std::size_t i = 0;
  bool any = false;
#if defined(__SSE2__)
  const __m128d threshold = _mm_set1_pd(t);
  __m128d hit = _mm_setzero_pd();
  for (; i + 2 <= n; i += 2) hit = _mm_or_pd(hit, _mm_cmpge_pd(_mm_loadu_pd(v + i), threshold));
  any = _mm_movemask_pd(hit) != 0;
#endif
  for (; i < n; ++i) any = any || v[i] >= t;
  return any;
}

double largestBounds(const double* bound, std::size_t n, std::size_t keep,
                     std::vector<RunnerUp>& leaders) {
  leaders.clear();
  double rest = -std::numeric_limits<double>::infinity();
  // A heap whose front is the smallest leader, the next to be pushed out.
  // Once it is full few bounds pass rest, and whole blocks are passed over.
  for (std::size_t from = 0; from < n; from += kBoundBlock) {
    const std::size_t to = std::min(n, from + kBoundBlock);
    if (!anyAtLeast(bound + from, to - from, rest)) continue;
    for (std::size_t p = from; p < to; ++p) {
      if (!(bound[p] > rest)) continue;
      leaders.push_back({bound[p], p});
      std::push_heap(leaders.begin(), leaders.end(), higherBound);
      if (leaders.size() > keep) {
        std::pop_heap(leaders.begin(), leaders.end(), higherBound);
        rest = leaders.back().bound;
        leaders.pop_back();
      }
    }
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
