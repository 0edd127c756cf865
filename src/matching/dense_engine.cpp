// The engine for a negative rpdWeight. No bound on a pair's cost holds then,
// since the rpd term can only lower it, so every pass forms every object's
// full cost, as the plain engine does. The rpd sums of many objects are formed
// at once (dense_rpd.h), each in rpd's order, so every cost keeps its bits.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "dense_rpd.h"
#include "engine.h"
#include "fixed_source.h"

namespace seedmatch {
namespace {

class DenseEngine {
 public:
  DenseEngine(const AuctionInput& in, const PassWatcher& watch)
      : in_(in), watch_(watch), state_(startState(in, false)) {
    if (state_.nothingWins) return;
    fixed_ = std::make_unique<FixedSource>(in, state_, false);
    // With symmetric distances the held objects' own rows give every sum.
    symmetric_ = distancesSymmetric(in.objects, in.stop);
  }

  AuctionStats run(MatchTable& table) { return runPasses(*this, state_, in_, table, watch_); }

  Best pass(std::int32_t b) {
    const double* dist = in_.bidders[static_cast<std::size_t>(b)].neibDist.data();
    holderDist_.resize(state_.held.size());
    for (std::size_t i = 0; i < state_.held.size(); ++i) {
      holderDist_[i] = dist[state_.owner[static_cast<std::size_t>(state_.held[i])]];
    }
    const std::size_t nLive = state_.live.size();
    const double* fixed = fixed_->row(b, fixedRow_);
    if (symmetric_) {
      rpdSumsAlongHeldRows(state_.held, state_.heldRows, holderDist_, in_.objects.size(), rowSums_,
                           in_.stop);
    }
    Best best;
    std::array<double, kSumLanes> sum{};
    std::array<std::int32_t, kSumLanes> object{};
    for (std::size_t p = 0; p < nLive;) {
      // A pass over many held objects is long: a stop leaves its result unused.
      if (p % kLanesBetweenStops == 0 && in_.stop.stop_requested()) return best;
      const std::size_t m = std::min(kSumLanes, nLive - p);
      for (std::size_t l = 0; l < m; ++l) object[l] = state_.live[p + l];
      sum.fill(0.0);
      if (symmetric_) {
        for (std::size_t l = 0; l < m; ++l) sum[l] = rowSums_[static_cast<std::size_t>(object[l])];
      } else {
        rpdSumsSideBySide(in_.objects, object, m, state_.held, holderDist_, state_.heldFlag, sum);
      }
      for (std::size_t l = 0; l < m; ++l, ++p) {
        const double c = costFromSum(in_.weights.rpd, sum[l], state_.rpdCount(object[l]), fixed[p]);
        const double g = gainOf(c, state_.price[p]);
        if (g > best.gain) best = {g, c, static_cast<std::int64_t>(p)};
      }
    }
    return best;
  }

  void newlyHeld(std::size_t) {}
  void addCounts(AuctionStats&) const {}

 private:
  static constexpr std::size_t kLanesBetweenStops = 16 * kSumLanes;

  const AuctionInput& in_;
  const PassWatcher& watch_;
  AuctionState state_;
  std::unique_ptr<FixedSource> fixed_;  // none when nothing can win
  bool symmetric_ = false;          // sums may read held rows
  std::vector<double> fixedRow_;    // the pass's fixed parts, unless stored
  std::vector<double> holderDist_;  // per held object
  std::vector<double> rowSums_;     // per object
};

}  // namespace

AuctionStats denseAuction(const AuctionInput& in, MatchTable& table, const PassWatcher& watch) {
  DenseEngine engine(in, watch);
  return engine.run(table);
}

}  // namespace seedmatch
