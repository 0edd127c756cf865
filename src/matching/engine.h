// What the auction's two engines share: the call's input as the auction sees
// it, the state held from pass to pass, and the loop of passes. An engine only
// decides which object a bidder's pass goes for; the loop takes it from here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <stop_token>
#include <vector>

#include "bidder_memory.h"
#include "seedmatch/matching/matching.h"
#include "shared.h"

namespace seedmatch {

// One call's sets, weights and options, with the bidding side chosen.
struct AuctionInput {
  bool set1Bids;
  const SeedSet& bidders;
  const SeedSet& objects;
  std::int32_t set1Size;
  Weights weights;
  const PairTerms* terms;  // the fixed parts' terms, when prepared
  std::stop_token stop;
};

AuctionInput auctionInput(const SeedSet& set1, const SeedSet& set2, const Weights& weights,
                          const PairTerms* terms, std::stop_token stop);

// What the auction holds from pass to pass. Objects are named by their live
// position p (the objects that are not empty, ascending) where only those
// take part, and by their index j = live[p] where all do.
struct AuctionState {
  std::vector<std::int32_t> live;
  std::vector<bool> bidderLive;            // by bidder: not empty
  std::vector<double> price;               // by live position
  std::vector<std::int32_t> owner;         // by object index
  std::vector<double> heldCost;            // by object index
  std::vector<std::int32_t> heldFlag;      // by object index: 1 when it has an owner
  std::vector<std::int32_t> held;          // held objects, ascending
  std::vector<const double*> heldRows;     // their neibDist rows
  std::vector<std::size_t> heldPositions;  // their live positions, in the order taken
  HandoverLog handovers;
  double bidIncrement = 0.0;
  // Every cost is NaN, or none can be below the limit: each bidder is dropped
  // on its own pass, and nothing else needs setting up.
  bool nothingWins = false;

  // The number of held objects rpd averages over for object j.
  std::int32_t rpdCount(std::int32_t j) const {
    return static_cast<std::int32_t>(held.size()) - heldFlag[static_cast<std::size_t>(j)];
  }
};

// The state before the first pass. costsNotNegative: no pair can cost less
// than 0.0, so that a limit of 0.0 or less lets nothing win.
AuctionState startState(const AuctionInput& in, bool costsNotNegative);

// Objects only ever become held; the held list stays in ascending order.
void holdNewly(AuctionState& state, const SeedSet& objects, std::size_t p);

// The pair cost from rpd's sum over count held objects and the fixed part.
inline double costFromSum(double rpdWeight, double sum, std::int32_t count, double fixed) {
  const double mean = count == 0 ? 0.0 : sum / static_cast<double>(count);
  return pairCostOf(rpdWeight, mean / kRpdDivisor, fixed);
}

// The auction's passes with engine.pass(b) choosing each bidder's object;
// engine.newlyHeld(p) hears of every object taken for the first time and
// engine.addCounts(stats) gives its counters at the end. Appends the rows to
// table unless a stop was requested.
template <class Engine>
AuctionStats runPasses(Engine& engine, AuctionState& state, const AuctionInput& in,
                       MatchTable& table, const PassWatcher& watch) {
  AuctionStats stats;
  const auto nBidders = static_cast<std::int32_t>(in.bidders.size());
  std::deque<std::int32_t> queue;
  for (std::int32_t b = 0; b < nBidders; ++b) queue.push_back(b);
  const std::int64_t passLimit = kPassesPerBidder * nBidders;
  while (!queue.empty() && stats.passes < passLimit) {
    if (in.stop.stop_requested()) {
      stats.stopped = true;
      return stats;
    }
    ++stats.passes;
    const std::int32_t b = queue.front();
    queue.pop_front();
    if (!state.bidderLive[static_cast<std::size_t>(b)] || state.nothingWins) continue;
    const Best best = engine.pass(b);
    if (watch) watch(PassSeen{b, best.pos, best.cost, state.live, state.price});
    if (!(best.gain >= 0.0) || !(in.weights.costLimit > best.cost)) continue;
    const auto p = static_cast<std::size_t>(best.pos);
    const auto j = static_cast<std::size_t>(state.live[p]);
    state.heldCost[j] = best.cost;
    state.handovers.object.push_back(static_cast<std::int32_t>(j));
    state.handovers.ownerBefore.push_back(state.owner[j]);
    if (state.owner[j] != -1) {
      queue.push_back(state.owner[j]);
    } else {
      holdNewly(state, in.objects, p);
      engine.newlyHeld(p);
    }
    state.owner[j] = b;
    state.price[p] = state.price[p] + state.bidIncrement;
  }
  engine.addCounts(stats);
  appendHeldRows(state.owner, state.heldCost, in.set1Bids, table);
  return stats;
}

// The two engines: bounded for rpdWeight >= 0, dense otherwise.
AuctionStats boundedAuction(const AuctionInput& in, MatchTable& table, const PassWatcher& watch);
AuctionStats denseAuction(const AuctionInput& in, MatchTable& table, const PassWatcher& watch);

}  // namespace seedmatch
