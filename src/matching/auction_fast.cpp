// The auction engine the driver runs. It makes the same bids, wins and stored
// costs as referenceAuction, pass by pass, but spends its time only where the
// outcome of a pass can still change. With rpdWeight >= 0 a pair never costs
// less than its fixed part seedWeight*seedDist + histWeight*pcal (fixed_part.h)
// plus a lower bound on its rpd term (cell_bounds.h), so each object has an
// upper bound on its gain, and only objects whose bound beats the best gain
// found so far are looked at more closely:
//  1. bounds for every object in one sweep: a lower bound on the fixed part
//     (from the point counts on a bidder's first pass; the exact part, stored
//     in single precision rounded down, on its later passes) and the rpd term
//     bounded from eight cells;
//  2. the object with the largest bound gets its exact cost; every other
//     object whose bound beats it waits, largest bound first, for its exact
//     fixed part and then its exact rpd sum, formed in rpd's own order over
//     the held objects and abandoned once the partial sum rules it out;
//  3. a bidder that comes back after few changes of hands starts from what
//     its last pass found (bidder_memory.h) and skips the sweep.
// Every cost that can win is formed exactly as the plain engine forms it, and
// every object left out provably could not have won. With a negative
// rpdWeight no bound holds and every object needs its full sum (dense_rpd.h).
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "bidder_memory.h"
#include "cell_bounds.h"
#include "dense_rpd.h"
#include "fixed_part.h"
#include "seedmatch/matching/matching.h"
#include "shared.h"

namespace seedmatch {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

struct Best {
  double gain = kStartGain;
  double cost = kBaseValue;
  std::int64_t pos = -1;  // live position of the object, -1 for none

  // Whether an object at pos with this gain displaces the best. The objects of
  // a pass are not visited in ascending order, so equal gains compare by
  // position: the result is the one the ascending scan with its strict test
  // gives. A NaN gain never beats anything; with no best yet the gain must
  // exceed kStartGain itself.
  bool beatenBy(double g, std::int64_t p) const { return g > gain || (g == gain && p < pos); }
};

// True when no distance can make an rpd term infinite or NaN: with a zero
// rpdWeight the rpd term then adds a zero of rpdWeight's sign, whatever its value.
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

// The largest float at most v (NaN stays NaN).
float floatAtMost(double v) {
  const auto f = static_cast<float>(v);
  return static_cast<double>(f) > v ? std::nextafter(f, -std::numeric_limits<float>::infinity())
                                    : f;
}

// How the weights and the sets let the engine work, settled before the first pass.
struct Modes {
  bool bounded = true;            // rpdWeight >= 0: a pair costs at least its fixed part
  bool rpdNeeded = true;          // rpd can change a cost
  bool costsNotNegative = false;  // bounded, and fixed parts and their weights finite, >= 0
  bool lazyFixed = false;         // fixed parts formed (or read from terms) when needed
  bool uniform = false;           // both sets suit the column layout
  bool symmetric = false;         // dense sums may read held rows (negative rpdWeight)
};

// What the auction holds from pass to pass: prices, owners, the held objects
// and the cells over them.
struct AuctionState {
  std::vector<double> price;               // by live position
  std::vector<std::int32_t> owner;         // by object index
  std::vector<double> heldCost;            // by object index
  std::vector<std::int32_t> heldFlag;      // 1 when the object has an owner
  std::vector<std::int32_t> held;          // held objects, ascending
  std::vector<const double*> heldRows;     // their neibDist rows
  std::vector<std::size_t> heldPositions;  // their live positions, in the order taken
  HandoverLog handovers;
  CellSums cellSums;
  bool cells = false;         // rpd sums bounded from cell sums first
  bool cellsAllowed = false;  // and they may start
  bool cellsSymmetric = false;
  double largestRpd = 0.0;  // no rpd is larger, when cells
};

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
  std::vector<double> bound;       // per live position
  std::vector<double> fixedLow;    // per live position
  std::vector<double> termsFixed;  // per live position, from prepared terms
  std::vector<std::size_t> shortlist;
  std::vector<Pending> pending;  // a heap once pendingHeap is set
  bool pendingHeap = false;
  std::vector<RunnerUp> leaders;
  std::vector<double> holderDist;  // per held object, dense passes
  std::vector<double> rowSums;     // per object, dense passes
};

// What each bidder keeps from one of its passes to the next, by bidder.
struct BidderMemories {
  std::vector<std::uint8_t> seen;            // has had a pass
  std::vector<std::vector<float>> fixedLow;  // from its second pass, when lazy
  std::vector<BidderMemory> last;
};

struct Counts {
  std::int64_t exactSums = 0;
  std::int64_t fullPasses = 0;
  std::int64_t returns = 0;  // full passes of bidders that had one before
  std::int64_t repeats = 0;
};

// One call's auction: the sets and weights, the modes they allow, and the
// state, the pass scratch and the bidders' memories above.
class Engine {
 public:
  Engine(const SeedSet& set1, const SeedSet& set2, double costLimit, double seedWeight,
         double histWeight, double rpdWeight, const SeedDistWeights& w, bool countContenders,
         const PairTerms* terms = nullptr, std::stop_token stop = {})
      : set1Bids_(set1.size() <= set2.size()),
        bidders_(set1Bids_ ? set1 : set2),
        objects_(set1Bids_ ? set2 : set1),
        set1Size_(static_cast<std::int32_t>(set1.size())),
        costLimit_(costLimit),
        seedWeight_(seedWeight),
        histWeight_(histWeight),
        rpdWeight_(rpdWeight),
        w_(w),
        countContenders_(countContenders),
        terms_(terms),
        stop_(std::move(stop)) {
    const std::size_t nObjects = objects_.size();
    for (std::size_t j = 0; j < nObjects; ++j) {
      if (isZero(objects_[j]) == 0) live_.push_back(static_cast<std::int32_t>(j));
    }
    const std::size_t nLive = live_.size();
    bidderLive_.resize(bidders_.size());
    for (std::size_t b = 0; b < bidders_.size(); ++b) bidderLive_[b] = isZero(bidders_[b]) == 0;
    state_.price.assign(nLive, 0.0);
    state_.owner.assign(nObjects, -1);
    state_.heldCost.assign(nObjects, -1.0);
    state_.heldFlag.assign(nObjects, 0);
    bidIncrement_ = 1.0 / (static_cast<double>(static_cast<std::int32_t>(nObjects)) + 1.0);
    mode_.bounded = rpdWeight >= 0.0;
    mode_.costsNotNegative =
        mode_.bounded && finiteNonNegative({seedWeight, histWeight, w.wDesc1, w.wDesc2, w.wPts01,
                                            w.wDesc4, w.wPts2});
    // Every cost is NaN, or no cost can be below the limit (with weights that
    // are not negative no cost is below 0.0): each bidder is dropped on its
    // own pass, nothing is won, and nothing else needs setting up.
    nothingWins_ = std::isnan(rpdWeight_) || std::isnan(costLimit_) || nLive == 0 ||
                   (mode_.costsNotNegative && !(costLimit_ > 0.0));
    if (nothingWins_) return;
    mode_.rpdNeeded = !(rpdWeight == 0.0 && distancesModerate(bidders_, stop_) &&
                        distancesModerate(objects_, stop_));
    mode_.lazyFixed = mode_.costsNotNegative;
    mode_.uniform =
        nLive > 0 && !bidders_.empty() && uniformLayout(bidders_) && uniformLayout(objects_);
    if (mode_.lazyFixed && terms_ == nullptr) {
      for (std::size_t k = 0; k < 3; ++k) {
        objectPts_[k].resize(nLive);
        for (std::size_t p = 0; p < nLive; ++p) {
          objectPts_[k][p] =
              static_cast<float>(objects_[static_cast<std::size_t>(live_[p])].pts[k]);
        }
      }
    }
    if (mode_.lazyFixed) {
      memory_.fixedLow.resize(bidders_.size());
    } else if (terms_ == nullptr) {
      computeFixed();
    }
    mode_.symmetric = !mode_.bounded && mode_.rpdNeeded && distancesSymmetric(objects_, stop_);
    // The bounds' margin is worked out for finite, moderate, non-negative
    // distances and a finite positive weight; other input takes the exact
    // sums alone.
    state_.cellsAllowed = mode_.bounded && mode_.rpdNeeded && std::isfinite(rpdWeight) &&
                          rpdWeight > 0.0 && nLive > 0;
    memory_.seen.assign(bidders_.size(), 0);
    memory_.last.resize(bidders_.size());
    state_.handovers.seenAt.assign(nObjects, -1);
  }

  AuctionStats run() {
    AuctionStats stats;
    const auto nBidders = static_cast<std::int32_t>(bidders_.size());
    std::deque<std::int32_t> queue;
    for (std::int32_t b = 0; b < nBidders; ++b) queue.push_back(b);
    const std::int64_t passLimit = kPassesPerBidder * nBidders;
    while (!queue.empty() && stats.passes < passLimit) {
      if (stop_.stop_requested()) {
        stats.stopped = true;
        return stats;
      }
      ++stats.passes;
      const std::int32_t b = queue.front();
      queue.pop_front();
      if (!bidderLive_[static_cast<std::size_t>(b)] || nothingWins_) continue;
      const Best best = mode_.bounded ? boundedPass(b) : densePass(b);
      if (countContenders_) stats.contenders += contenders(b, best);
      if (!(best.gain >= 0.0) || !(costLimit_ > best.cost)) continue;
      const auto p = static_cast<std::size_t>(best.pos);
      const auto j = static_cast<std::size_t>(live_[p]);
      state_.heldCost[j] = best.cost;
      state_.handovers.object.push_back(static_cast<std::int32_t>(j));
      state_.handovers.ownerBefore.push_back(state_.owner[j]);
      if (state_.owner[j] != -1) {
        queue.push_back(state_.owner[j]);
      } else {
        newlyHeld(p);
      }
      state_.owner[j] = b;
      state_.price[p] = state_.price[p] + bidIncrement_;
    }
    stats.exactSums = count_.exactSums;
    stats.repeats = count_.repeats;
    return stats;
  }

  void emit(MatchTable& table) const {
    appendHeldRows(state_.owner, state_.heldCost, set1Bids_, table);
  }

 private:
  static constexpr std::size_t kRunnersUp = 8;
  static constexpr std::size_t kLanesBetweenStops = 16 * kSumLanes;
  static constexpr std::size_t kRunnersUpCosted = 3;
  static constexpr std::int64_t kSumsBeforeCells = 16;

  // Objects only ever become held; the held list stays in ascending order.
  void newlyHeld(std::size_t p) {
    const std::int32_t j = live_[p];
    const auto at = std::upper_bound(state_.held.begin(), state_.held.end(), j);
    state_.heldRows.insert(state_.heldRows.begin() + (at - state_.held.begin()),
                           objects_[static_cast<std::size_t>(j)].neibDist.data());
    state_.held.insert(at, j);
    state_.heldPositions.push_back(p);
    state_.heldFlag[static_cast<std::size_t>(j)] = 1;
    if (state_.cells) addHeldObject(state_.cellSums, objects_, live_, p, state_.cellsSymmetric);
  }

  void computeFixed() {
    const std::size_t nLive = live_.size();
    if (nLive == 0 || bidders_.empty()) return;
    // Left unset until its row is filled, so that the pages are first touched
    // row by row, between looks at the stop token.
    fixed_ = std::make_unique_for_overwrite<double[]>(bidders_.size() * nLive);
    for (std::size_t b = 0; b < bidders_.size() && !stop_.stop_requested(); ++b) {
      if (bidderLive_[b]) fullFixedRow(static_cast<std::int32_t>(b), &fixed_[b * nLive]);
    }
  }

  // The exact fixed parts of one bidder against every live object.
  void fullFixedRow(std::int32_t b, double* fixed) {
    if (terms_ != nullptr) {
      for (std::size_t p = 0; p < live_.size(); ++p) fixed[p] = fixedFromTerms(b, p);
      return;
    }
    const SEED& bidder = bidders_[static_cast<std::size_t>(b)];
    if (mode_.uniform) {
      if (columns_.count == 0) columns_ = makeColumns(objects_, live_, bidders_.front());
      fixedRow(bidder, columns_, seedWeight_, histWeight_, w_, fixed);
      return;
    }
    for (std::size_t p = 0; p < live_.size(); ++p) fixed[p] = fixedPart(b, p);
  }

  double exactFixed(std::int32_t b, std::size_t p) const {
    if (terms_ != nullptr) return fixedFromTerms(b, p);
    if (mode_.lazyFixed) return fixedPart(b, p);
    return fixed_[static_cast<std::size_t>(b) * live_.size() + p];
  }

  // The exact fixed parts of bidder b by live position, when they are not lazy.
  const double* fixedRowOf(std::int32_t b) {
    if (terms_ == nullptr) return &fixed_[static_cast<std::size_t>(b) * live_.size()];
    pass_.termsFixed.resize(live_.size());
    fullFixedRow(b, pass_.termsFixed.data());
    return pass_.termsFixed.data();
  }

  double fixedFromTerms(std::int32_t b, std::size_t p) const {
    const auto bidder = static_cast<std::size_t>(b);
    const auto object = static_cast<std::size_t>(live_[p]);
    const std::size_t at =
        set1Bids_ ? bidder * terms_->size2 + object : object * terms_->size2 + bidder;
    return seedWeight_ * terms_->seedDist[at] + histWeight_ * terms_->pcal[at];
  }

  double fixedPart(std::int32_t b, std::size_t p) const {
    const SEED& bidder = bidders_[static_cast<std::size_t>(b)];
    const SEED& object = objects_[static_cast<std::size_t>(live_[p])];
    const double s = pairSeedDist(bidder, object, set1Bids_, w_);
    return seedWeight_ * s + histWeight_ * pcal(bidder, object, set1Size_);
  }

  // The number of held objects rpd averages over for object j.
  std::int32_t rpdCount(std::int32_t j) const {
    return static_cast<std::int32_t>(state_.held.size()) -
           state_.heldFlag[static_cast<std::size_t>(j)];
  }

  double costFromSum(double sum, std::int32_t count, double fixed) const {
    const double mean = count == 0 ? 0.0 : sum / static_cast<double>(count);
    return rpdWeight_ * (mean / kRpdDivisor) + fixed;
  }

  Best boundedPass(std::int32_t b) {
    pass_.bidder = b;
    BidderMemory& last = memory_.last[static_cast<std::size_t>(b)];
    if (last.mark >= 0) {
      Best best;
      if (passFromLast(b, last, best)) return best;
    }
    last.mark = -1;
    last.remembered = false;
    const Best best = fullPass(b);
    // Many exact sums per pass, or bidders that keep coming back: the cheap
    // bounds do not tell the objects apart, and the cells will.
    if (state_.cellsAllowed &&
        (count_.exactSums > 4 * ++count_.fullPasses + kSumsBeforeCells ||
         count_.returns > static_cast<std::int64_t>(bidders_.size() / 32) + 8)) {
      startCells();
    }
    if (best.pos < 0 || !last.remembered) return best;  // first passes keep nothing
    last.mark = static_cast<std::int64_t>(state_.handovers.object.size());
    last.heldAtMark = state_.held.size();
    last.pos = static_cast<std::size_t>(best.pos);
    last.cost = best.cost;
    return best;
  }

  // Keeps the winner and the objects with the largest gain bounds of a full
  // pass, and a bound on all the others. pass_.bound holds the tightest bounds the
  // pass found, and bounds only ever tighten, so a rest taken from leaders
  // gathered earlier in the pass still holds.
  void remember(const Best& best, double rest, BidderMemory& last) {
    const auto won = static_cast<std::size_t>(best.pos);
    last.runnersUp.clear();
    for (const RunnerUp& r : pass_.leaders) {
      if (r.pos != won) last.runnersUp.push_back({pass_.bound[r.pos], r.pos});
    }
    std::sort(last.runnersUp.begin(), last.runnersUp.end(), higherBound);
    if (last.runnersUp.size() > kRunnersUp) {
      rest = std::max(rest, last.runnersUp.back().bound);
      last.runnersUp.pop_back();
    }
    last.rest = rest;
    last.remembered = true;
  }

  // A pass worked out from the bidder's last one, when few objects changed
  // hands since and none became held: every cost moved by at most drift, so
  // last pass's bounds plus drift still bound every gain. The last winner and
  // the runners-up whose bounds reach the best get their exact costs; false
  // when the bound on the rest still reaches it, and a full pass must decide.
  bool passFromLast(std::int32_t b, BidderMemory& last, Best& best) {
    Drift drift;
    if (!driftSince(b, last, drift)) return false;
    // No gain can come out above these, so the rest must stay below them.
    const double lastWinner = drift.raise((kBaseValue - last.cost) - state_.price[last.pos]);
    const double runnerUp =
        last.runnersUp.empty() ? -kInfinity : drift.raise(last.runnersUp.front().bound);
    if (!(drift.raise(last.rest) < std::max(lastWinner, runnerUp))) return false;
    // A runner-up close behind usually needs its exact cost too: both sums
    // are then formed in one walk, side by side.
    double cost = last.cost;
    double closeCost = kNoCost;
    if (!drift.none && !last.runnersUp.empty() && runnerUp >= lastWinner - 2.0 * drift.shift) {
      const auto costs = exactCostsTogether(b, last.pos, last.runnersUp.front().pos);
      cost = costs[0];
      closeCost = costs[1];
    } else if (!drift.none) {
      cost = costOf(b, last.pos, Best{});
    }
    // A sum abandoned against no best: the last winner fell below the start
    // gain, and no bound kept from its pass says which object is best now.
    if (std::isnan(cost)) return false;
    best = {};
    const double g = (kBaseValue - cost) - state_.price[last.pos];
    if (best.beatenBy(g, static_cast<std::int64_t>(last.pos))) {
      best = {g, cost, static_cast<std::int64_t>(last.pos)};
    }
    if (!(drift.raise(last.rest) < std::max(best.gain, runnerUp))) return false;
    const double rest = drift.raise(last.rest);
    std::size_t costed = 0;
    for (RunnerUp& r : last.runnersUp) {
      const auto pos = static_cast<std::int64_t>(r.pos);
      const double bound = drift.raise(r.bound);
      if (!best.beatenBy(bound, pos)) {
        r.bound = bound;
        continue;
      }
      // Past here the best can only end above the rest through this object or
      // a later one; when that is out of reach, or many are close, a full
      // pass decides at less cost.
      if (!(best.gain > rest) && !(bound > rest)) return false;
      if (++costed > kRunnersUpCosted) return false;
      const double c = &r == &last.runnersUp.front() && !std::isnan(closeCost)
                           ? closeCost
                           : costOf(b, r.pos, best);
      const double rg = (kBaseValue - c) - state_.price[r.pos];
      r.bound = std::isnan(c) ? best.gain : rg;
      if (best.beatenBy(rg, pos)) best = {rg, c, pos};
    }
    last.rest = rest;
    if (!(last.rest < best.gain) || best.pos < 0) return false;
    // The bounds stay valid for the next pass: move the old winner among the
    // runners-up, and the new one out.
    if (static_cast<std::size_t>(best.pos) != last.pos) {
      const auto won = static_cast<std::size_t>(best.pos);
      for (RunnerUp& r : last.runnersUp) {
        if (r.pos == won) r = {g, last.pos};
      }
      std::sort(last.runnersUp.begin(), last.runnersUp.end(), higherBound);
    }
    last.mark = static_cast<std::int64_t>(state_.handovers.object.size());
    last.pos = static_cast<std::size_t>(best.pos);
    last.cost = best.cost;
    ++count_.repeats;
    return true;
  }

  // How far the gains of a bidder can have risen since its last pass, when no
  // object became held since: every sum over the held objects loses at most
  // the moved holder distances, so a cost falls by at most shift, and with
  // prices that only rise a gain bound B still holds as B + shift. shift also
  // covers the roundings of both sums (relative) and of the costs and gains,
  // which for the gains that can matter stay far below 1e7 in size. An object
  // newly held adds a term to every sum and one to every count; the bidder
  // then makes a full pass.
  struct Drift {
    bool none = true;  // every object has the owner it had: every cost as it was
    double shift = 0.0;
    double raise(double bound) const { return none ? bound : bound + shift; }
  };

  bool driftSince(std::int32_t b, const BidderMemory& last, Drift& drift) {
    // After many handovers the drift leaves little to go on, and reading the
    // log would cost as much as a full pass.
    if (state_.handovers.object.size() - static_cast<std::size_t>(last.mark) > 2 * live_.size())
      return false;
    if (state_.held.size() != last.heldAtMark) return false;
    const double moved = movedHolderDistance(state_.handovers, last.mark, state_.owner,
                                             bidders_[static_cast<std::size_t>(b)].neibDist.data());
    drift = {};
    if (moved == 0.0) return true;
    // state_.cells: a finite rpdWeight and moderate distances; costsNotNegative:
    // weights not negative, so that no cost is below 0.
    if (!state_.cells || !mode_.costsNotNegative || state_.held.size() < 2) return false;
    const double count = static_cast<double>(state_.held.size() - 1);
    const double relative = static_cast<double>(state_.held.size() + 8) * 0x1p-50;
    drift.none = false;
    drift.shift =
        rpdWeight_ * (moved * (1.0 + 1e-6) / (kRpdDivisor * count) + state_.largestRpd * relative) +
        1e-6;
    return drift.shift < 1e5;
  }

  Best fullPass(std::int32_t b) {
    const auto at = static_cast<std::size_t>(b);
    if (state_.cells) {
      gatherBidderSums(state_.cellSums, state_.heldPositions, live_, state_.owner,
                       bidders_[static_cast<std::size_t>(b)].neibDist);
    }
    if (!memory_.seen[at]) {
      memory_.seen[at] = 1;
      return firstPass(b);
    }
    ++count_.returns;
    return laterPass(b);
  }

  // The cells pay once bidders keep coming back, or once passes need many
  // exact sums; an easy scene, where most bidders make one pass and the fixed
  // parts find the partners, never needs them. They start from the objects
  // held so far.
  void startCells() {
    state_.cellsAllowed = false;
    const double largestObject = largestDistanceForCells(objects_, stop_);
    const double largestBidder = largestDistanceForCells(bidders_, stop_);
    if (largestObject < 0.0 || largestBidder < 0.0) return;
    state_.largestRpd = (largestObject + largestBidder) / kRpdDivisor;
    state_.cellSums = makeCellSums(objects_, live_);
    const bool symmetric = distancesSymmetric(objects_, stop_);
    for (const std::size_t p : state_.heldPositions) {
      if (stop_.stop_requested()) return;  // the cells stay off; the run stops
      addHeldObject(state_.cellSums, objects_, live_, p, symmetric);
    }
    state_.cellsSymmetric = symmetric;
    state_.cells = true;
  }

  // A bidder's first pass. Most bidders have no other, so its fixed parts are
  // formed only where the bound from the point counts leaves a chance. The
  // objects with the largest bounds go first, best bound first, so that the
  // best gain is high early and most other objects are skipped.
  Best firstPass(std::int32_t b) {
    const std::size_t nLive = live_.size();
    pass_.bound.resize(nLive);
    // Once the cells have started, each bound also holds their bound on the
    // rpd term; refine() tightens it further with the exact fixed part.
    const CellSums* sums = state_.cells ? &state_.cellSums : nullptr;
    if (mode_.lazyFixed) {
      // Prepared terms give the exact fixed parts for what the point counts bound.
      pass_.fixedLow.resize(nLive);
      if (terms_ != nullptr) {
        fullFixedRow(b, pass_.fixedLow.data());
      } else {
        pointCountLowerBounds(bidders_[static_cast<std::size_t>(b)], objectPts_, seedWeight_,
                              histWeight_, w_, pass_.fixedLow.data());
      }
      gainBounds(sums, rpdWeight_, pass_.fixedLow.data(), state_.price.data(), nLive,
                 pass_.bound.data());
    } else {
      gainBounds(sums, rpdWeight_, fixedRowOf(b), state_.price.data(), nLive, pass_.bound.data());
    }
    Best best;
    pass_.pending.clear();
    const auto consider = [&](std::size_t p) {
      if (!mode_.lazyFixed || terms_ != nullptr) return refine(p, exactFixed(b, p), best);
      // seedDist first: with pcal taken as 0.0 the result is again a lower
      // bound, and pcal is computed only when that bound leaves a chance.
      const SEED& bidder = bidders_[static_cast<std::size_t>(b)];
      const SEED& object = objects_[static_cast<std::size_t>(live_[p])];
      const double s = pairSeedDist(bidder, object, set1Bids_, w_);
      if (!best.beatenBy((kBaseValue - (seedWeight_ * s + histWeight_ * 0.0)) - state_.price[p],
                         static_cast<std::int64_t>(p))) {
        return;
      }
      refine(p, seedWeight_ * s + histWeight_ * pcal(bidder, object, set1Size_), best);
    };
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
      consider(p);
      if (first) settlePending(-kInfinity, best);
    }
    settlePending(cut, best);
    for (std::size_t p = 0; p < nLive; ++p) {
      if (!(pass_.bound[p] >= cut) && best.beatenBy(pass_.bound[p], static_cast<std::int64_t>(p)))
        consider(p);
    }
    settlePending(-kInfinity, best);
    return best;
  }

  // Widest gap, in cost, between the best bound and the others tried first.
  static constexpr double kShortlistWidth = 1.0;

  // A bidder that comes back (one that is outbid, usually again and again)
  // keeps its fixed parts, rounded down to single precision, so that every
  // later pass bounds all objects in one sweep. The object with the largest
  // bound has its exact cost first; the others are looked at only where
  // their bound beats it.
  Best laterPass(std::int32_t b) {
    const std::size_t nLive = live_.size();
    pass_.bound.resize(nLive);
    const CellSums* sums = state_.cells ? &state_.cellSums : nullptr;
    if (mode_.lazyFixed) {
      std::vector<float>& low = memory_.fixedLow[static_cast<std::size_t>(b)];
      if (low.empty()) {
        pass_.fixedLow.resize(nLive);
        fullFixedRow(b, pass_.fixedLow.data());
        low.resize(nLive);
        for (std::size_t p = 0; p < nLive; ++p) low[p] = floatAtMost(pass_.fixedLow[p]);
      }
      gainBounds(sums, rpdWeight_, low.data(), state_.price.data(), nLive, pass_.bound.data());
    } else {
      gainBounds(sums, rpdWeight_, fixedRowOf(b), state_.price.data(), nLive, pass_.bound.data());
    }
    const double rest = largestBounds(pass_.bound.data(), nLive, kRunnersUp + 1, pass_.leaders);
    Best best;
    if (pass_.leaders.empty()) return best;  // every bound is NaN or -inf: nothing can win
    const std::size_t top = pass_.leaders.front().pos;
    pass_.pending.clear();
    refine(top, exactFixed(b, top), best);
    settlePending(-kInfinity, best);
    for (std::size_t p = 0; p < nLive; ++p) {
      const auto pos = static_cast<std::int64_t>(p);
      // The exact fixed part waits until the object comes up in pass_.pending.
      if (p != top && best.beatenBy(pass_.bound[p], pos))
        addPending({pass_.bound[p], p, fixedLowAt(b, p), false});
    }
    settlePending(-kInfinity, best);
    if (best.pos >= 0) remember(best, rest, memory_.last[static_cast<std::size_t>(b)]);
    return best;
  }

  // An object whose gain bound still beats the best, with its exact fixed
  // part: its bound is tightened by the cell sums, and if it still beats the
  // best it waits in pass_.pending for its exact cost.
  void refine(std::size_t p, double fixed, Best& best) {
    const auto pos = static_cast<std::int64_t>(p);
    double g = (kBaseValue - fixed) - state_.price[p];
    tighten(p, g);
    if (!best.beatenBy(g, pos)) return;
    const std::int32_t j = live_[p];
    const std::int32_t count = rpdCount(j);
    if (!mode_.rpdNeeded || count == 0) {
      const double cost = mode_.rpdNeeded ? costFromSum(0.0, 0, fixed) : rpdWeight_ * 0.0 + fixed;
      g = (kBaseValue - cost) - state_.price[p];
      tighten(p, g);
      if (best.beatenBy(g, pos)) best = {g, cost, pos};
      return;
    }
    if (state_.cells) {
      g = gainWithCells(p, fixed);
      tighten(p, g);
      if (!best.beatenBy(g, pos)) return;
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
  // the cells' bound on its rpd sum.
  double gainWithCells(std::size_t p, double fixed) const {
    const double scale =
        state_.cellSums.held[p] ? state_.cellSums.scaleHeld : state_.cellSums.scaleFree;
    const double low = rpdSumLowerBound(state_.cellSums, p);
    return (kBaseValue - (rpdWeight_ * (low * scale) + fixed)) - state_.price[p];
  }

  // At most the fixed part of bidder b and position p, as laterPass stores it.
  double fixedLowAt(std::int32_t b, std::size_t p) const {
    if (!mode_.lazyFixed) return exactFixed(b, p);
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
      const double cost = exactCost(next.pos, best, next.fixed);
      const double g = (kBaseValue - cost) - state_.price[next.pos];
      // An abandoned sum (NaN) showed a gain of at most the best.
      tighten(next.pos, std::isnan(cost) ? best.gain : g);
      if (best.beatenBy(g, pos)) best = {g, cost, pos};
    }
    if (pass_.pending.empty()) pass_.pendingHeap = false;
  }

  // The pair cost of bidder b and position p, or NaN when its partial rpd sum
  // already shows that it cannot displace best.
  double costOf(std::int32_t b, std::size_t p, const Best& best) {
    const double fixed = exactFixed(b, p);
    if (!mode_.rpdNeeded) return rpdWeight_ * 0.0 + fixed;
    if (rpdCount(live_[p]) == 0) return costFromSum(0.0, 0, fixed);
    return exactCost(p, best, fixed);
  }

  static constexpr double kNoCost = std::numeric_limits<double>::quiet_NaN();

  // The exact costs of two positions, whose rpd sums run side by side over
  // the held objects, each in rpd's order: an object's own entry adds +0.0,
  // which leaves its sum as skipping it would. Needs state_.cells and two held.
  std::array<double, 2> exactCostsTogether(std::int32_t b, std::size_t p1, std::size_t p2) {
    count_.exactSums += 2;
    const std::int32_t j1 = live_[p1], j2 = live_[p2];
    const double* row1 = objects_[static_cast<std::size_t>(j1)].neibDist.data();
    const double* row2 = objects_[static_cast<std::size_t>(j2)].neibDist.data();
    const double* dist = bidders_[static_cast<std::size_t>(b)].neibDist.data();
    double sum1 = 0.0, sum2 = 0.0;
    for (const std::int32_t k : state_.held) {
      const double h = dist[state_.owner[static_cast<std::size_t>(k)]];
      sum1 = sum1 + (k == j1 ? 0.0 : std::fabs(row1[k] - h));
      sum2 = sum2 + (k == j2 ? 0.0 : std::fabs(row2[k] - h));
    }
    return {costFromSum(sum1, rpdCount(j1), exactFixed(b, p1)),
            costFromSum(sum2, rpdCount(j2), exactFixed(b, p2))};
  }

  // The pair cost of the bidder and the object at live position p, or NaN when
  // its partial rpd sum already shows that it cannot displace best. The sum
  // runs over the held objects in ascending order as rpd's does, so a cost that
  // is returned has rpd's bits.
  double exactCost(std::size_t p, const Best& best, double fixed) {
    ++count_.exactSums;
    const std::int32_t j = live_[p];
    const std::int32_t count = rpdCount(j);
    const double* row = objects_[static_cast<std::size_t>(j)].neibDist.data();
    const std::int32_t* held = state_.held.data();
    const std::int32_t* owner = state_.owner.data();
    const double* dist = bidders_[static_cast<std::size_t>(pass_.bidder)].neibDist.data();
    const std::size_t n = state_.held.size();
    // Terms are +0.0 or more (or NaN): a partial sum is at most the final one, and rounded
    // /count, /20, *rpdWeight, +fixed, base-c, -price are monotone, so its gain bounds the final.
    const auto hopeless = [&](double partial) {
      const double g = (kBaseValue - costFromSum(partial, count, fixed)) - state_.price[p];
      return !best.beatenBy(g, static_cast<std::int64_t>(p));
    };
    // The object's own term is left out by summing around its place in the list.
    const std::size_t self =
        state_.heldFlag[static_cast<std::size_t>(j)]
            ? static_cast<std::size_t>(std::lower_bound(held, held + n, j) - held)
            : n;
    constexpr std::size_t kCheckEvery = 32;
    double sum = 0.0;
    const auto addRange = [&](std::size_t i, std::size_t to) {
      while (i < to) {
        const std::size_t end = std::min(to, i + kCheckEvery);
        for (; i < end; ++i) {
          const auto k = static_cast<std::size_t>(held[i]);
          sum = sum + std::fabs(row[k] - dist[owner[k]]);
        }
        if (i < n && hopeless(sum)) return false;
      }
      return true;
    };
    if (!addRange(0, self) || !addRange(std::min(n, self + 1), n)) return std::nan("");
    return costFromSum(sum, count, fixed);
  }

  Best densePass(std::int32_t b) {
    const double* dist = bidders_[static_cast<std::size_t>(b)].neibDist.data();
    pass_.holderDist.resize(state_.held.size());
    for (std::size_t i = 0; i < state_.held.size(); ++i) {
      pass_.holderDist[i] = dist[state_.owner[static_cast<std::size_t>(state_.held[i])]];
    }
    const std::size_t nLive = live_.size();
    const double* fixed = fixedRowOf(b);
    if (mode_.symmetric)
      rpdSumsAlongHeldRows(state_.held, state_.heldRows, pass_.holderDist, objects_.size(),
                           pass_.rowSums, stop_);
    Best best;
    std::array<double, kSumLanes> sum{};
    std::array<std::int32_t, kSumLanes> object{};
    for (std::size_t p = 0; p < nLive;) {
      // A pass over many held objects is long: a stop leaves its result unused.
      if (p % kLanesBetweenStops == 0 && stop_.stop_requested()) return best;
      const std::size_t m = std::min(kSumLanes, nLive - p);
      for (std::size_t l = 0; l < m; ++l) object[l] = live_[p + l];
      sum.fill(0.0);
      if (mode_.symmetric) {
        for (std::size_t l = 0; l < m; ++l)
          sum[l] = pass_.rowSums[static_cast<std::size_t>(object[l])];
      } else if (mode_.rpdNeeded) {
        rpdSumsSideBySide(objects_, object, m, state_.held, pass_.holderDist, state_.heldFlag, sum);
      }
      for (std::size_t l = 0; l < m; ++l, ++p) {
        const double c = costFromSum(sum[l], rpdCount(object[l]), fixed[p]);
        const double g = (kBaseValue - c) - state_.price[p];
        if (g > best.gain) best = {g, c, static_cast<std::int64_t>(p)};
      }
    }
    return best;
  }

  // The objects whose fixed part plus price is below the winner's cost plus
  // price: those whose rpd decides the pass. For the benchmarks only.
  std::int64_t contenders(std::int32_t b, const Best& best) {
    if (best.pos < 0) return 0;
    const std::size_t nLive = live_.size();
    pass_.fixedLow.resize(nLive);  // free once the pass is over
    fullFixedRow(b, pass_.fixedLow.data());
    const double winner = best.cost + state_.price[static_cast<std::size_t>(best.pos)];
    std::int64_t count = 0;
    for (std::size_t p = 0; p < nLive; ++p) count += pass_.fixedLow[p] + state_.price[p] < winner;
    return count;
  }

  bool set1Bids_;
  const SeedSet& bidders_;
  const SeedSet& objects_;
  std::int32_t set1Size_;
  double costLimit_;
  double seedWeight_;
  double histWeight_;
  double rpdWeight_;
  SeedDistWeights w_;
  bool countContenders_;
  const PairTerms* terms_;  // the fixed parts' terms, when prepared
  std::stop_token stop_;
  double bidIncrement_ = 0.0;
  bool nothingWins_ = false;
  Modes mode_;
  std::vector<std::int32_t> live_;  // objects that are not empty, ascending
  std::vector<bool> bidderLive_;
  std::unique_ptr<double[]> fixed_;              // bidder-major, by live position, unless lazy
                                                 // or prepared; rows of empty bidders unset
  std::array<std::vector<float>, 3> objectPts_;  // point counts by live position, when lazy
  ObjectColumns columns_;                        // built for the first full row

  AuctionState state_;
  PassScratch pass_;
  BidderMemories memory_;
  Counts count_;
};

}  // namespace

AuctionStats nModifiedWeightedBipartiteMatching(const SeedSet& set1, const SeedSet& set2,
                                                MatchTable& table, double costLimit,
                                                double seedWeight, double histWeight,
                                                double rpdWeight, const SeedDistWeights& w) {
  Engine engine(set1, set2, costLimit, seedWeight, histWeight, rpdWeight, w, false);
  const AuctionStats stats = engine.run();
  engine.emit(table);
  return stats;
}

AuctionStats nModifiedWeightedBipartiteMatching(const SeedSet& set1, const SeedSet& set2,
                                                MatchTable& table, double costLimit,
                                                double seedWeight, double histWeight,
                                                double rpdWeight, const SeedDistWeights& w,
                                                const AuctionOptions& options) {
  const PairTerms* terms = options.terms;
  if (terms != nullptr && (terms->size1 != set1.size() || terms->size2 != set2.size() ||
                           terms->seedDist.size() != set1.size() * set2.size() ||
                           terms->pcal.size() != terms->seedDist.size())) {
    throw std::invalid_argument("pair terms of " + std::to_string(terms->size1) + " x " +
                                std::to_string(terms->size2) + " seeds given for seed sets of " +
                                std::to_string(set1.size()) + " and " +
                                std::to_string(set2.size()));
  }
  Engine engine(set1, set2, costLimit, seedWeight, histWeight, rpdWeight, w, false, terms,
                options.stop);
  AuctionStats stats = engine.run();
  if (!stats.stopped) engine.emit(table);
  return stats;
}

AuctionStats countingAuction(const SeedSet& set1, const SeedSet& set2, MatchTable& table,
                             double costLimit, double seedWeight, double histWeight,
                             double rpdWeight, const SeedDistWeights& w) {
  Engine engine(set1, set2, costLimit, seedWeight, histWeight, rpdWeight, w, true);
  const AuctionStats stats = engine.run();
  engine.emit(table);
  return stats;
}

}  // namespace seedmatch
