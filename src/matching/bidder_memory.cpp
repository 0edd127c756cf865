#include "bidder_memory.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace seedmatch {

double largestBounds(const double* bound, std::size_t n, std::size_t keep,
                     std::vector<RunnerUp>& leaders) {
  leaders.clear();
  double rest = -std::numeric_limits<double>::infinity();
  // A heap whose front is the smallest leader, the next to be pushed out.
  for (std::size_t p = 0; p < n; ++p) {
    if (!(bound[p] > rest)) continue;
    leaders.push_back({bound[p], p});
    std::push_heap(leaders.begin(), leaders.end(), higherBound);
    if (leaders.size() > keep) {
      std::pop_heap(leaders.begin(), leaders.end(), higherBound);
      rest = leaders.back().bound;
      leaders.pop_back();
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

}  // namespace seedmatch
