// The engine for rpdWeight >= 0, the one the driver runs on ordinary weights.
// It makes the same bids, wins and stored costs as referenceAuction, pass by
// pass, but spends its time only where the outcome of a pass can still
// change. A pair never costs less than its fixed part seedWeight*seedDist +
// histWeight*pcal (fixed_source.h) plus a lower bound on its rpd term
// (cell_bounds.h), so each object has an upper bound on its gain, and only
// objects whose bound beats the best gain found so far are looked at more
// closely. A pass, in the order of this file:
//  1. a bidder that comes back after few changes of hands starts from what
//     its last pass found (bidder_memory.h) and skips the rest;
//  2. otherwise a full pass bounds every object in one sweep: a lower bound
//     on the fixed part (from the point counts on a bidder's first pass; the
//     exact part, stored in single precision rounded down, on its later
//     passes) and the rpd term bounded from eight cells, once they pay;
//  3. the objects with the largest bounds get their exact fixed parts first;
//     every object whose bound still beats the best, and then its bound from
//     64 finer cells, waits, largest bound first, for its exact rpd sum;
//  4. that sum is formed in rpd's own order over the held objects, two
//     objects' sums in one walk where two are due, and abandoned once the
//     partial sum rules the object out.
// Every cost that can win is formed exactly as the plain engine forms it, and
// every object left out provably could not have won.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "bidder_memory.h"
#include "cell_bounds.h"
#include "dense_rpd.h"
#include "engine.h"
#include "exact_cost.h"
#include "fixed_source.h"

namespace seedmatch {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// The largest float at most v (NaN stays NaN).
float floatAtMost(double v) {
  const auto f = static_cast<float>(v);
  return static_cast<double>(f) > v ? std::nextafter(f, -std::numeric_limits<float>::infinity())
                                    : f;
}

// An object waiting for its exact cost.
struct Pending {
  double gain;  // at least the object's gain
  std::size_t pos;
  double fixed;  // the fixed part, or a lower bound of it
  bool fixedIsExact;
};

inline bool lowerPriority(const Pending& x, const Pending& y) {
  return x.gain < y.gain || (x.gain == y.gain && x.pos > y.pos);
}

// Working space of one pass, kept for the next so that it is allocated once.
struct PassScratch {
  std::int32_t bidder = -1;
  std::vector<double> bound;     // per live position
  std::vector<double> fixedLow;  // per live position
  std::vector<std::size_t> shortlist;
  std::vector<Pending> pending;  // a heap once pendingHeap is set
  bool pendingHeap = false;
  std::vector<RunnerUp> leaders;
  BoundBlocks blocks;                // of bound, by largestBounds
  bool gathered = false;             // the cells hold the bidder's distances to the holders
  const double* heldDist = nullptr;  // and these, in held order, once asked for
};

// The exact fixed parts a bidder had formed lately, by position modulo the
// slots: its passes come back to the same few objects.
struct RecentFixed {
  static constexpr std::size_t kSlots = 128;
  std::array<std::uint32_t, kSlots> pos;
  std::array<double, kSlots> fixed;
  RecentFixed() { pos.fill(std::numeric_limits<std::uint32_t>::max()); }
};

// What each bidder keeps from one of its passes to the next, by bidder.
struct BidderMemories {
  std::vector<RecentFixed> recent;  // when formed on demand
  std::vector<std::uint8_t> seen;            // has had a pass
  std::vector<std::vector<float>> fixedLow;  // from its second pass, when on demand
  std::vector<BidderMemory> last;
};

// The cells over the held objects, once they pay.
struct Cells {
  CellSums sums;
  bool on = false;          // rpd sums bounded from cell sums first
  bool allowed = false;     // and they may start
  bool symmetric = false;   // held objects' rows read instead of columns
  double largestRpd = 0.0;  // no rpd is larger, when on
};

class BoundedEngine {
 public:
  BoundedEngine(const AuctionInput& in, const PassWatcher& watch)
      : in_(in),
        watch_(watch),
        costsNotNegative_(
            finiteNonNegative({in.weights.seed, in.weights.hist, in.weights.seedDist.wDesc1,
                               in.weights.seedDist.wDesc2, in.weights.seedDist.wPts01,
                               in.weights.seedDist.wDesc4, in.weights.seedDist.wPts2})),
        state_(startState(in, costsNotNegative_)) {
    if (state_.nothingWins) return;
    rpdNeeded_ = !(in.weights.rpd == 0.0 && distancesModerate(in.bidders, in.stop) &&
                   distancesModerate(in.objects, in.stop));
    // With no cost below 0.0 a bidder's fixed parts are formed only where a
    // bound leaves a chance, and kept in single precision from its second pass.
    onDemand_ = costsNotNegative_;
    fixed_ = std::make_unique<FixedSource>(in, state_, onDemand_);
    if (onDemand_) memory_.fixedLow.resize(in.bidders.size());
    if (fixed_->kind() == FixedSource::Kind::onDemand) memory_.recent.resize(in.bidders.size());
    // The bounds' margin is worked out for finite, moderate, non-negative
    // distances and a finite positive weight; other input takes the exact
    // sums alone.
    cells_.allowed = rpdNeeded_ && std::isfinite(in.weights.rpd) && in.weights.rpd > 0.0;
    memory_.seen.assign(in.bidders.size(), 0);
    memory_.last.resize(in.bidders.size());
  }

  AuctionStats run(MatchTable& table) { return runPasses(*this, state_, in_, table, watch_); }

  Best pass(std::int32_t b) {
    pass_.bidder = b;
    pass_.gathered = false;
    pass_.heldDist = nullptr;
    BidderMemory& last = memory_.last[static_cast<std::size_t>(b)];
    if (last.mark >= 0) {
      // An object newly held since leaves the memory void.
      memoryUse_.voided += ((state_.held.size() != last.heldAtMark ? 1.0 : 0.0) -
                            memoryUse_.voided) / 32.0;
      Best best;
      if (returningPass(b, last, best)) return best;
    }
    last.mark = -1;
    last.remembered = false;
    const Best best = fullPass(b);
    // Many exact sums per pass, or bidders that keep coming back: the cheap
    // bounds do not tell the objects apart, and the cells will.
    if (cells_.allowed &&
        (count_.exactSums > 4 * ++count_.fullPasses + kSumsBeforeCells ||
         count_.returns > static_cast<std::int64_t>(in_.bidders.size() / 32) + 8)) {
      startCells();
    }
    // Still more exact sums per pass, or bidders that come back again and
    // again: the finer cells spare most of those sums. A run where most
    // bidders make one pass never pays for them.
    if (cells_.on && cells_.sums.fineCells == 0 &&
        (count_.exactSums > 8 * count_.fullPasses + static_cast<std::int64_t>(in_.bidders.size()) ||
         count_.returns > static_cast<std::int64_t>(in_.bidders.size() / 4) + 8)) {
      startFineCells(cells_.sums, in_.objects, state_.live, state_.heldPositions);
    }
    if (best.pos < 0 || !last.remembered) return best;  // first passes keep nothing
    last.mark = static_cast<std::int64_t>(state_.handovers.object.size());
    last.heldAtMark = state_.held.size();
    last.pos = static_cast<std::size_t>(best.pos);
    last.cost = best.cost;
    return best;
  }

  void newlyHeld(std::size_t p) {
    if (cells_.on) addHeldObject(cells_.sums, in_.objects, state_.live, p, cells_.symmetric);
  }

  void addCounts(AuctionStats& stats) const {
    stats.exactSums = count_.exactSums;
    stats.repeats = count_.repeats;
  }

 private:
  static constexpr std::int64_t kSumsBeforeCells = 16;
  // Widest gap, in cost, between the best bound and the others tried first.
  static constexpr double kShortlistWidth = 1.0;

  // 1. A returning bidder: its last pass's bounds, raised by the drift.
  bool returningPass(std::int32_t b, BidderMemory& last, Best& best) {
    const DriftBasis basis{state_.live.size(),
                           state_.held.size(),
                           state_.owner,
                           bidderDist(b),
                           cells_.on && costsNotNegative_,
                           in_.weights.rpd,
                           cells_.largestRpd};
    Drift drift;
    if (!driftSince(last, state_.handovers, basis, drift)) return false;
    struct Costs {
      BoundedEngine& engine;
      std::int32_t b;
      double one(std::size_t p, const Best& best) { return engine.costOf(b, p, best); }
      std::array<double, 2> two(std::size_t p1, std::size_t p2) {
        return engine.exactCostsTogether(b, p1, p2);
      }
    } costs{*this, b};
    if (!passFromLast(last, drift, state_.price, state_.handovers.object.size(), costs, best))
      return false;
    ++count_.repeats;
    return true;
  }

  // 2. A full pass: the first of a bidder, or a later one.
  Best fullPass(std::int32_t b) {
    const auto at = static_cast<std::size_t>(b);
    if (cells_.on) {
      gatherBidderSums(cells_.sums, state_.heldPositions, state_.live, state_.owner,
                       in_.bidders[at].neibDist);
      pass_.gathered = true;
    }
    if (!memory_.seen[at]) {
      memory_.seen[at] = 1;
      return firstPass(b);
    }
    ++count_.returns;
    return laterPass(b);
  }

  // A bidder's first pass. Most bidders have no other, so its fixed parts are
  // formed only where the bound from the point counts leaves a chance. The
  // objects with the largest bounds go first, best bound first, so that the
  // best gain is high early and most other objects are skipped.
  Best firstPass(std::int32_t b) {
    const std::size_t nLive = state_.live.size();
    pass_.bound.resize(nLive);
    // Once the cells are on, each bound also holds their bound on the rpd
    // term; refine() tightens it further with the exact fixed part.
    gainBounds(cellSums(), in_.weights.rpd, fixed_->lowerBounds(b, pass_.fixedLow),
               state_.price.data(), nLive, pass_.bound.data());
    Best best;
    pass_.pending.clear();
    double top = -kBaseValue * 2.0;
    for (std::size_t p = 0; p < nLive; ++p) top = std::max(top, pass_.bound[p]);
    const double cut = top - kShortlistWidth;
    pass_.shortlist.clear();
    for (std::size_t p = 0; p < nLive; ++p) {
      if (pass_.bound[p] >= cut) pass_.shortlist.push_back(p);
    }
    // Largest bound first, the smaller position on a tie. Most passes end
    // long before the list does, so it is a heap taken from one at a time
    // rather than sorted.
    const auto after = [&](std::size_t x, std::size_t y) {
      return pass_.bound[x] < pass_.bound[y] || (pass_.bound[x] == pass_.bound[y] && x > y);
    };
    std::make_heap(pass_.shortlist.begin(), pass_.shortlist.end(), after);
    for (bool first = true; !pass_.shortlist.empty(); first = false) {
      std::pop_heap(pass_.shortlist.begin(), pass_.shortlist.end(), after);
      const std::size_t p = pass_.shortlist.back();
      pass_.shortlist.pop_back();
      settlePending(pass_.bound[p], best);
      // Later objects have no larger bound, and a larger position on a tie;
      // what is still pending has a smaller bound.
      if (!best.beatenBy(pass_.bound[p], static_cast<std::int64_t>(p))) return best;
      consider(b, p, best);
      if (first) settlePending(-kInfinity, best);
    }
    settlePending(cut, best);
    for (std::size_t p = 0; p < nLive; ++p) {
      if (!(pass_.bound[p] >= cut) && best.beatenBy(pass_.bound[p], static_cast<std::int64_t>(p)))
        consider(b, p, best);
    }
    settlePending(-kInfinity, best);
    return best;
  }

  // A bidder that comes back (one that is outbid, usually again and again)
  // keeps its fixed parts, rounded down to single precision when they are
  // formed on demand, so that every later pass bounds all objects in one
  // sweep. The object with the largest bound has its exact cost first; the
  // others are looked at only where their bound beats it.
  Best laterPass(std::int32_t b) {
    const std::size_t nLive = state_.live.size();
    pass_.bound.resize(nLive);
    if (onDemand_) {
      std::vector<float>& low = memory_.fixedLow[static_cast<std::size_t>(b)];
      if (low.empty()) {
        pass_.fixedLow.resize(nLive);
        fixed_->fillRow(b, pass_.fixedLow.data());
        low.resize(nLive);
        for (std::size_t p = 0; p < nLive; ++p) low[p] = floatAtMost(pass_.fixedLow[p]);
      }
      gainBounds(cellSums(), in_.weights.rpd, low.data(), state_.price.data(), nLive,
                 pass_.bound.data());
    } else {
      gainBounds(cellSums(), in_.weights.rpd, fixed_->row(b, pass_.fixedLow), state_.price.data(),
                 nLive, pass_.bound.data());
    }
    const bool keep = memoryPays();
    const double rest = largestBounds(pass_.bound.data(), nLive, keep ? kRunnersUp + 1 : 1,
                                      pass_.leaders, pass_.blocks);
    Best best;
    if (pass_.leaders.empty()) return best;  // every bound is NaN or -inf: nothing can win
    const std::size_t top = pass_.leaders.front().pos;
    pass_.pending.clear();
    refine(top, exactFixed(b, top), best);
    settlePending(-kInfinity, best);
    for (std::size_t from = 0; from < nLive; from += kBoundBlock) {
      const std::size_t to = std::min(nLive, from + kBoundBlock);
      // Tightened bounds only fall, so the blocks' tops still hold.
      if (!(pass_.blocks.top[from / kBoundBlock] >= best.gain)) continue;
      for (std::size_t p = from; p < to; ++p) {
        // The exact fixed part waits until the object comes up in pass_.pending.
        if (p != top && best.beatenBy(pass_.bound[p], static_cast<std::int64_t>(p)))
          addPending({pass_.bound[p], p, fixedLowAt(b, p), false});
      }
    }
    settlePending(-kInfinity, best);
    if (keep && best.pos >= 0) {
      remember(memory_.last[static_cast<std::size_t>(b)], static_cast<std::size_t>(best.pos), rest,
               pass_.leaders, pass_.bound);
    }
    return best;
  }

  // Whether a later pass should keep its runners-up for the bidder's next
  // pass. While objects become held between most passes of a bidder, the
  // memories come back void, and the pass needs only its largest bound; one
  // pass in eight keeps them still, so that the share of void ones is known.
  bool memoryPays() { return memoryUse_.voided < 0.9 || ++memoryUse_.skipped % 8 == 0; }

  // The cells pay once bidders keep coming back, or once passes need many
  // exact sums; an easy scene, where most bidders make one pass and the fixed
  // parts find the partners, never needs them. They start from the objects
  // held so far.
  void startCells() {
    cells_.allowed = false;
    const double largestObject = largestDistanceForCells(in_.objects, in_.stop);
    const double largestBidder = largestDistanceForCells(in_.bidders, in_.stop);
    if (largestObject < 0.0 || largestBidder < 0.0) return;
    cells_.largestRpd = (largestObject + largestBidder) / kRpdDivisor;
    cells_.sums = makeCellSums(in_.objects, state_.live);
    const bool symmetric = distancesSymmetric(in_.objects, in_.stop);
    for (const std::size_t p : state_.heldPositions) {
      if (in_.stop.stop_requested()) return;  // the cells stay off; the run stops
      addHeldObject(cells_.sums, in_.objects, state_.live, p, symmetric);
    }
    cells_.symmetric = symmetric;
    cells_.on = true;
  }

  const CellSums* cellSums() const { return cells_.on ? &cells_.sums : nullptr; }

  // 3. An object of a first pass whose bound beats the best. Formed on
  // demand, seedDist comes first: with pcal taken as 0.0 the result is again
  // a lower bound, and pcal is formed only when that bound leaves a chance.
  void consider(std::int32_t b, std::size_t p, Best& best) {
    if (fixed_->kind() != FixedSource::Kind::onDemand) return refine(p, fixed_->exact(b, p), best);
    const double s = fixed_->seedDistOf(b, p);
    const double low = fixedPartOf(in_.weights.seed, s, in_.weights.hist, 0.0);
    if (!best.beatenBy(gainOf(low, state_.price[p]), static_cast<std::int64_t>(p))) return;
    const double fixed = fixedPartOf(in_.weights.seed, s, in_.weights.hist, fixed_->pcalOf(b, p));
    RecentFixed& recent = memory_.recent[static_cast<std::size_t>(b)];
    recent.pos[p % RecentFixed::kSlots] = static_cast<std::uint32_t>(p);
    recent.fixed[p % RecentFixed::kSlots] = fixed;
    refine(p, fixed, best);
  }

  // An object whose gain bound still beats the best, with its exact fixed
  // part: its bound is tightened by the cell sums, and if it still beats the
  // best it waits in pass_.pending for its exact cost.
  void refine(std::size_t p, double fixed, Best& best) {
    const auto pos = static_cast<std::int64_t>(p);
    double g = gainOf(fixed, state_.price[p]);
    tighten(p, g);
    if (!best.beatenBy(g, pos)) return;
    const std::int32_t count = state_.rpdCount(state_.live[p]);
    if (!rpdNeeded_ || count == 0) {
      const double cost = rpdNeeded_ ? costFromSum(in_.weights.rpd, 0.0, 0, fixed)
                                     : pairCostOf(in_.weights.rpd, 0.0, fixed);
      g = gainOf(cost, state_.price[p]);
      tighten(p, g);
      if (best.beatenBy(g, pos)) best = {g, cost, pos};
      return;
    }
    if (cells_.on) {
      g = gainWithCells(p, fixed, rpdSumLowerBound(cells_.sums, p));
      tighten(p, g);
      if (!best.beatenBy(g, pos)) return;
      if (cells_.sums.fineCells != 0) {
        g = gainWithCells(p, fixed, rpdSumFineLowerBound(cells_.sums, p));
        tighten(p, g);
        if (!best.beatenBy(g, pos)) return;
      }
    }
    addPending({g, p, fixed, true});
  }

  void addPending(const Pending& entry) {
    pass_.pending.push_back(entry);
    if (pass_.pendingHeap)
      std::push_heap(pass_.pending.begin(), pass_.pending.end(), lowerPriority);
  }

  // pass_.bound[p] keeps the tightest upper bound on the gain found in the pass,
  // for the next pass's second best.
  void tighten(std::size_t p, double g) {
    if (std::isnan(g)) g = -kInfinity;
    if (g < pass_.bound[p]) pass_.bound[p] = g;
  }

  // At least the gain of position p for a fixed part of at least fixed, from
  // a cell bound low on its rpd sum.
  double gainWithCells(std::size_t p, double fixed, double low) const {
    const double scale = cells_.sums.held[p] ? cells_.sums.scaleHeld : cells_.sums.scaleFree;
    return gainOf(in_.weights.rpd * (low * scale) + fixed, state_.price[p]);
  }

  // At most the fixed part of bidder b and position p, as laterPass keeps it.
  double fixedLowAt(std::int32_t b, std::size_t p) const {
    if (!onDemand_) return fixed_->exact(b, p);
    return static_cast<double>(memory_.fixedLow[static_cast<std::size_t>(b)][p]);
  }

  // Gives every pending object whose bound is at least above, largest first,
  // its exact cost. What is left has a smaller bound.
  void settlePending(double above, Best& best) {
    if (pass_.pending.empty()) return;
    if (!pass_.pendingHeap) {
      std::make_heap(pass_.pending.begin(), pass_.pending.end(), lowerPriority);
      pass_.pendingHeap = true;
    }
    while (!pass_.pending.empty() && !(pass_.pending.front().gain < above)) {
      std::pop_heap(pass_.pending.begin(), pass_.pending.end(), lowerPriority);
      const Pending next = pass_.pending.back();
      pass_.pending.pop_back();
      const auto pos = static_cast<std::int64_t>(next.pos);
      if (!best.beatenBy(next.gain, pos)) {
        pass_.pending.clear();  // the rest have no larger bound
        break;
      }
      if (!next.fixedIsExact) {
        refine(next.pos, exactFixed(pass_.bidder, next.pos), best);  // back with its true bound
        continue;
      }
      if (!pass_.gathered) {
        settle(next, exactCost(next.pos, best, next.fixed), best);
        continue;
      }
      if (pass_.heldDist == nullptr) pass_.heldDist = holderDistancesInHeldOrder(cells_.sums);
      // A second object whose exact cost is due has its sum formed in the
      // same walk over the held objects.
      const bool two = !pass_.pending.empty() && pass_.pending.front().fixedIsExact &&
                       !(pass_.pending.front().gain < above) &&
                       best.beatenBy(pass_.pending.front().gain,
                                     static_cast<std::int64_t>(pass_.pending.front().pos));
      Pending second = next;
      if (two) {
        std::pop_heap(pass_.pending.begin(), pass_.pending.end(), lowerPriority);
        second = pass_.pending.back();
        pass_.pending.pop_back();
      }
      count_.exactSums += two ? 2 : 1;
      const std::array<double, 2> cost =
          exactCostsInHeldOrder(state_, in_, pass_.heldDist, two ? 2 : 1, {next.pos, second.pos},
                                {next.fixed, second.fixed}, best);
      settle(next, cost[0], best);
      if (two) settle(second, cost[1], best);
    }
    if (pass_.pending.empty()) pass_.pendingHeap = false;
  }

  // The exact cost of a pending object, NaN when its sum was abandoned.
  void settle(const Pending& entry, double cost, Best& best) {
    const double g = gainOf(cost, state_.price[entry.pos]);
    // An abandoned sum (NaN) showed a gain of at most the best.
    tighten(entry.pos, std::isnan(cost) ? best.gain : g);
    const auto pos = static_cast<std::int64_t>(entry.pos);
    if (best.beatenBy(g, pos)) best = {g, cost, pos};
  }

  // 4. Exact costs. The pair cost of bidder b and position p, or NaN when its
  // partial rpd sum already shows that it cannot displace best.
  double costOf(std::int32_t b, std::size_t p, const Best& best) {
    const double fixed = exactFixed(b, p);
    if (!rpdNeeded_) return pairCostOf(in_.weights.rpd, 0.0, fixed);
    if (state_.rpdCount(state_.live[p]) == 0) return costFromSum(in_.weights.rpd, 0.0, 0, fixed);
    return exactCost(p, best, fixed);
  }

  std::array<double, 2> exactCostsTogether(std::int32_t b, std::size_t p1, std::size_t p2) {
    count_.exactSums += 2;
    return seedmatch::exactCostsTogether(state_, in_, bidderDist(b), p1, exactFixed(b, p1), p2,
                                         exactFixed(b, p2));
  }

  double exactCost(std::size_t p, const Best& best, double fixed) {
    ++count_.exactSums;
    return seedmatch::exactCost(state_, in_, bidderDist(pass_.bidder), p, fixed, best);
  }

  // The exact fixed part of bidder b and position p, formed once while it stays recent.
  double exactFixed(std::int32_t b, std::size_t p) {
    if (memory_.recent.empty()) return fixed_->exact(b, p);
    RecentFixed& recent = memory_.recent[static_cast<std::size_t>(b)];
    const std::size_t slot = p % RecentFixed::kSlots;
    if (recent.pos[slot] != p) {
      recent.pos[slot] = static_cast<std::uint32_t>(p);
      recent.fixed[slot] = fixed_->exact(b, p);
    }
    return recent.fixed[slot];
  }

  const double* bidderDist(std::int32_t b) const {
    return in_.bidders[static_cast<std::size_t>(b)].neibDist.data();
  }

  const AuctionInput& in_;
  const PassWatcher& watch_;
  bool costsNotNegative_;  // fixed parts and their weights finite and >= 0
  bool rpdNeeded_ = true;  // rpd can change a cost
  bool onDemand_ = false;  // fixed parts formed (or read from terms) when needed
  AuctionState state_;
  std::unique_ptr<FixedSource> fixed_;  // none when nothing can win
  Cells cells_;
  PassScratch pass_;
  BidderMemories memory_;
  struct {
    double voided = 0.0;  // recent share of memories found void, decaying
    std::int64_t skipped = 0;
  } memoryUse_;
  struct {
    std::int64_t exactSums = 0;
    std::int64_t fullPasses = 0;
    std::int64_t returns = 0;  // full passes of bidders that had one before
    std::int64_t repeats = 0;
  } count_;
};

}  // namespace

AuctionStats boundedAuction(const AuctionInput& in, MatchTable& table, const PassWatcher& watch) {
  BoundedEngine engine(in, watch);
  return engine.run(table);
}

}  // namespace seedmatch
