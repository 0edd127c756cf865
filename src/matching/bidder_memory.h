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

#include <cstddef>
#include <cstdint>
#include <vector>

namespace seedmatch {

struct RunnerUp {
  double bound;  // at least the object's gain
  std::size_t pos;
};

// Larger bound first; equal bounds by position, as the auction breaks ties.
inline bool higherBound(const RunnerUp& x, const RunnerUp& y) {
  return x.bound > y.bound || (x.bound == y.bound && x.pos < y.pos);
}

// leaders = the `keep` largest of bound[0..n) with their positions, largest
// first; returns the largest of the others (-inf when none). NaN bounds,
// which belong to objects that can never win, are left out of both.
double largestBounds(const double* bound, std::size_t n, std::size_t keep,
                     std::vector<RunnerUp>& leaders);

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

}  // namespace seedmatch
