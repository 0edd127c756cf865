// What a bidder keeps from one pass to its next. Most passes of a hard scene
// are bidders coming back after being outbid, and between two passes of the
// same bidder only a few objects change hands. Every cost of the bidder then
// moves by at most rpdWeight * (the moved holder distances) / (20 * count):
// a term |d - h| changes by at most |h' - h|. So the bounds on the gains that
// its last pass found, raised by that drift, still hold (prices only rise),
// and usually only the last winner and a runner-up need their exact costs.
// An object that became held since adds a term and changes every mean, and
// then the bidder makes a full pass.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "shared.h"

namespace seedmatch {

inline constexpr std::size_t kRunnersUp = 8;  // objects a bidder keeps besides its winner

struct RunnerUp {
  double bound;  // at least the object's gain
  std::size_t pos;
};

// Larger bound first; equal bounds by position, as the auction breaks ties.
inline bool higherBound(const RunnerUp& x, const RunnerUp& y) {
  return x.bound > y.bound || (x.bound == y.bound && x.pos < y.pos);
}

// The bounds of a pass by blocks of kBoundBlock positions: top[i] is the
// largest of block i, NaN left out (-inf when there is none). Scans that look
// for the few bounds above a threshold pass over the blocks below it.
inline constexpr std::size_t kBoundBlock = 16;
struct BoundBlocks {
  std::vector<double> top;
  std::vector<RunnerUp> largest;  // working space of largestBounds
  std::vector<std::uint8_t> done;
};

// leaders = the `keep` largest of bound[0..n) with their positions, largest
// first; returns the largest of the others (-inf when none). NaN bounds,
// which belong to objects that can never win, are left out of both. Fills
// blocks for bound.
double largestBounds(const double* bound, std::size_t n, std::size_t keep,
                     std::vector<RunnerUp>& leaders, BoundBlocks& blocks);

struct BidderMemory {
  std::int64_t mark = -1;           // handovers logged before the pass; -1: nothing kept
  std::size_t heldAtMark = 0;       // objects held then
  std::size_t pos = 0;              // the object the pass found best
  double cost = 0.0;                // and its exact cost
  std::vector<RunnerUp> runnersUp;  // largest bound first
  double rest = 0.0;                // at least the gain of every other object
  bool remembered = false;          // runnersUp and rest already kept by the pass
};

// Every win, with the owner the object had before it.
struct HandoverLog {
  std::vector<std::int32_t> object;
  std::vector<std::int32_t> ownerBefore;
  std::vector<std::int64_t> seenAt;  // by object: the look that saw it last
  std::int64_t looks = 0;
};

// The sum of |h(owner now) - h(owner at mark)| over the objects whose owner
// differs now from the one they had when mark handovers were logged, h being
// the bidder's distance row; objects free then are left to the caller.
double movedHolderDistance(HandoverLog& log, std::int64_t mark,
                           const std::vector<std::int32_t>& owner, const double* bidderDist);

// Keeps the winner at won and the objects with the largest gain bounds of a
// full pass (leaders), and rest, a bound on all the others. bound holds the
// tightest bounds the pass found, and bounds only ever tighten, so a rest
// taken from leaders gathered earlier in the pass still holds.
void remember(BidderMemory& last, std::size_t won, double rest,
              const std::vector<RunnerUp>& leaders, const std::vector<double>& bound);

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

// What the drift is worked out from besides the log: the held objects and
// their owners, the bidder's distance row, and whether a drift may be
// allowed at all (cells on: a finite rpdWeight and moderate distances; and
// no cost below 0.0), with the largest rpd the cells found.
struct DriftBasis {
  std::size_t liveCount;
  std::size_t heldCount;
  const std::vector<std::int32_t>& owner;
  const double* bidderDist;
  bool allowed;
  double rpdWeight;
  double largestRpd;
};

// The drift since last's pass, or false when it cannot be bounded usefully.
bool driftSince(const BidderMemory& last, HandoverLog& log, const DriftBasis& basis, Drift& drift);

inline constexpr std::size_t kRunnersUpCosted = 3;  // exact costs a returning pass may form

// A pass worked out from the bidder's last one, when few objects changed
// hands since and none became held: every cost moved by at most drift, so
// last pass's bounds plus drift still bound every gain. The last winner and
// the runners-up whose bounds reach the best get their exact costs from
// costs.one(p, best) (NaN when the sum was abandoned against best) and
// costs.two(p1, p2); false when the bound on the rest still reaches the best,
// and a full pass must decide. handovers: the log's length now.
template <class Costs>
bool passFromLast(BidderMemory& last, const Drift& drift, const std::vector<double>& price,
                  std::size_t handovers, Costs& costs, Best& best) {
  constexpr double kInfinity = std::numeric_limits<double>::infinity();
  // No gain can come out above these, so the rest must stay below them.
  const double lastWinner = drift.raise(gainOf(last.cost, price[last.pos]));
  const double runnerUp =
      last.runnersUp.empty() ? -kInfinity : drift.raise(last.runnersUp.front().bound);
  const double rest = drift.raise(last.rest);
  if (!(rest < std::max(lastWinner, runnerUp))) return false;
  // A runner-up close behind usually needs its exact cost too: both sums
  // are then formed in one walk, side by side.
  double cost = last.cost;
  double closeCost = std::numeric_limits<double>::quiet_NaN();
  if (!drift.none && !last.runnersUp.empty() && runnerUp >= lastWinner - 2.0 * drift.shift) {
    const auto both = costs.two(last.pos, last.runnersUp.front().pos);
    cost = both[0];
    closeCost = both[1];
  } else if (!drift.none) {
    cost = costs.one(last.pos, Best{});
  }
  // A sum abandoned against no best: the last winner fell below the start
  // gain, and no bound kept from its pass says which object is best now.
  if (std::isnan(cost)) return false;
  best = {};
  const double g = gainOf(cost, price[last.pos]);
  if (best.beatenBy(g, static_cast<std::int64_t>(last.pos))) {
    best = {g, cost, static_cast<std::int64_t>(last.pos)};
  }
  if (!(rest < std::max(best.gain, runnerUp))) return false;
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
                         : costs.one(r.pos, best);
    const double rg = gainOf(c, price[r.pos]);
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
  last.mark = static_cast<std::int64_t>(handovers);
  last.pos = static_cast<std::size_t>(best.pos);
  last.cost = best.cost;
  return true;
}

}  // namespace seedmatch
