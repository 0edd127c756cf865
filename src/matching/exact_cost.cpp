#include "exact_cost.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace seedmatch {
namespace {

constexpr std::size_t kCheckEvery = 32;

// One rpd sum under way.
struct Chain {
  std::size_t p;
  double fixed;
  std::int32_t count;  // rpd's count
  const double* row;   // the object's distances
  std::size_t self;    // its place in the held list, or past the end when free
  double sum = 0.0;
  bool open = true;  // not abandoned
};

Chain chainFor(const AuctionState& state, const AuctionInput& in, std::size_t p, double fixed) {
  const std::int32_t j = state.live[p];
  const std::int32_t* held = state.held.data();
  const std::size_t n = state.held.size();
  const std::size_t self =
      state.heldFlag[static_cast<std::size_t>(j)]
          ? static_cast<std::size_t>(std::lower_bound(held, held + n, j) - held)
          : n;
  return {p, fixed, state.rpdCount(j), in.objects[static_cast<std::size_t>(j)].neibDist.data(),
          self};
}

// Terms are +0.0 or more (or NaN): a partial sum is at most the final one, and rounded
// /count, /20, *rpdWeight, +fixed, base-c, -price are monotone, so its gain bounds the final.
bool hopeless(const AuctionState& state, const AuctionInput& in, const Chain& c, const Best& best) {
  const double g = gainOf(costFromSum(in.weights.rpd, c.sum, c.count, c.fixed), state.price[c.p]);
  return !best.beatenBy(g, static_cast<std::int64_t>(c.p));
}

// Adds held objects i to end to each chain's sum. The object's own entry adds
// +0.0, which leaves a sum of terms that are never -0.0 as skipping it would.
template <std::size_t K>
void addTerms(const std::int32_t* held, const double* heldDist, std::size_t i, std::size_t end,
              std::array<Chain*, K> chains) {
  std::array<double, K> sum;
  for (std::size_t c = 0; c < K; ++c) sum[c] = chains[c]->sum;
  for (; i < end; ++i) {
    const auto k = static_cast<std::size_t>(held[i]);
    const double h = heldDist[i];
    for (std::size_t c = 0; c < K; ++c) {
      const double t = std::fabs(chains[c]->row[k] - h);
      sum[c] = sum[c] + (i == chains[c]->self ? 0.0 : t);
    }
  }
  for (std::size_t c = 0; c < K; ++c) chains[c]->sum = sum[c];
}

}  // namespace

std::array<double, 2> exactCostsInHeldOrder(const AuctionState& state, const AuctionInput& in,
                                            const double* heldDist, std::size_t k,
                                            std::array<std::size_t, 2> ps,
                                            std::array<double, 2> fixed, const Best& best) {
  std::array<Chain, 2> chains{chainFor(state, in, ps[0], fixed[0]),
                              chainFor(state, in, ps[k - 1], fixed[k - 1])};
  chains[1].open = k == 2;
  const std::int32_t* held = state.held.data();
  const std::size_t n = state.held.size();
  for (std::size_t i = 0; i < n && (chains[0].open || chains[1].open); i += kCheckEvery) {
    const std::size_t end = std::min(n, i + kCheckEvery);
    if (chains[0].open && chains[1].open) {
      addTerms<2>(held, heldDist, i, end, {&chains[0], &chains[1]});
    } else {
      addTerms<1>(held, heldDist, i, end, {&chains[chains[0].open ? 0 : 1]});
    }
    for (Chain& c : chains) {
      if (c.open && end < n && hopeless(state, in, c, best)) c.open = false;
    }
  }
  std::array<double, 2> cost{std::nan(""), std::nan("")};
  for (std::size_t c = 0; c < k; ++c) {
    if (chains[c].open)
      cost[c] = costFromSum(in.weights.rpd, chains[c].sum, chains[c].count, chains[c].fixed);
  }
  return cost;
}

double exactCost(const AuctionState& state, const AuctionInput& in, const double* dist,
                 std::size_t p, double fixed, const Best& best) {
  Chain chain = chainFor(state, in, p, fixed);
  const double* row = chain.row;
  const std::int32_t* held = state.held.data();
  const std::int32_t* owner = state.owner.data();
  const std::size_t n = state.held.size();
  double sum = 0.0;
  const auto addRange = [&](std::size_t i, std::size_t to) {
    while (i < to) {
      const std::size_t end = std::min(to, i + kCheckEvery);
      for (; i < end; ++i) {
        const auto k = static_cast<std::size_t>(held[i]);
        sum = sum + std::fabs(row[k] - dist[owner[k]]);
      }
      chain.sum = sum;
      if (i < n && hopeless(state, in, chain, best)) return false;
    }
    return true;
  };
  // The object's own term is left out by summing around its place in the list.
  if (!addRange(0, chain.self) || !addRange(std::min(n, chain.self + 1), n)) return std::nan("");
  return costFromSum(in.weights.rpd, sum, chain.count, fixed);
}

std::array<double, 2> exactCostsTogether(const AuctionState& state, const AuctionInput& in,
                                         const double* dist, std::size_t p1, double fixed1,
                                         std::size_t p2, double fixed2) {
  const std::int32_t j1 = state.live[p1], j2 = state.live[p2];
  const double* row1 = in.objects[static_cast<std::size_t>(j1)].neibDist.data();
  const double* row2 = in.objects[static_cast<std::size_t>(j2)].neibDist.data();
  double sum1 = 0.0, sum2 = 0.0;
  for (const std::int32_t k : state.held) {
    const double h = dist[state.owner[static_cast<std::size_t>(k)]];
    sum1 = sum1 + (k == j1 ? 0.0 : std::fabs(row1[k] - h));
    sum2 = sum2 + (k == j2 ? 0.0 : std::fabs(row2[k] - h));
  }
  return {costFromSum(in.weights.rpd, sum1, state.rpdCount(j1), fixed1),
          costFromSum(in.weights.rpd, sum2, state.rpdCount(j2), fixed2)};
}

}  // namespace seedmatch
