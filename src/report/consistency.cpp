// The estimate works on disagreements: for pair i = (p, q) and one of its k
// nearest other pairs j = (p', q'), r = D2[q][q'] - s * D1[p][p'], with s the
// growth from set 1 to set 2. Right pairs among right pairs give small r, from
// the noise of the positions; a wrong pair gives r of the order of the
// spacing of the seeds. What "wrong" looks like is taken from the sets
// themselves: a seed's distances to its neighbours against those of its
// nearest neighbour (a pair one seed off) give the density g of wrong pairs'
// disagreements. The right pairs' disagreements are fitted as a normal law of
// spread sigma, mixed with g; each pair's score is then the chance that it is
// right given its disagreements with its neighbours, each counted as far as
// that neighbour is itself trusted, and the scores are refined in turn.
#include "seedmatch/report/consistency.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <string>
#include <utility>

namespace seedmatch {
namespace {

constexpr int kPasses = 8;         // rounds of scores, each from the last one's, at most
constexpr int kFitRounds = 30;     // rounds fitting sigma and the right share, at most
constexpr double kSettled = 1e-4;  // a fit that moves less than this is done
constexpr int kDecoyBins = 20;     // bins of g per median disagreement of a decoy
constexpr double kSigmaCap = 0.65; // sigma at most this many median decoy disagreements
constexpr double kMinScale = 0.8, kMaxScale = 1.25;
constexpr double kLogitLimit = 50.0;
constexpr std::size_t kMinCover = 3;  // trusted seeds among a seed's kept neighbours

// Distances sort with NaN last; equal ones by index, so every order is fixed.
double sortKey(double d) { return std::isnan(d) ? std::numeric_limits<double>::infinity() : d; }

void requireDistances(const SeedSet& seeds, const char* name) {
  for (std::size_t i = 0; i < seeds.size(); ++i) {
    if (seeds[i].neibDist.size() < seeds.size()) {
      throw std::invalid_argument(std::string(name) + ": seed " + std::to_string(i) + " holds " +
                                  std::to_string(seeds[i].neibDist.size()) +
                                  " distances, fewer than the " + std::to_string(seeds.size()) +
                                  " seeds of its set");
    }
  }
}

// The `want` seeds among `members` nearest to seed x of `seeds` (x itself
// left out), nearest first, found by walking x's kept neighbours and, when
// those hold too few members, by a scan of all members.
template <class IsMember>
void nearestMembers(const SeedSet& seeds, const SeedNeighbours& kept, std::int32_t x,
                    std::size_t want, IsMember isMember, std::span<const std::int32_t> members,
                    std::vector<std::int32_t>& out) {
  out.clear();
  const std::int32_t* row = kept.nearest.data() + static_cast<std::size_t>(x) * kept.count;
  for (std::int32_t k = 0; k < kept.count && out.size() < want; ++k) {
    if (isMember(row[k])) out.push_back(row[k]);
  }
  const bool keptAll = static_cast<std::size_t>(kept.count) + 1 >= seeds.size();
  if (out.size() == want || keptAll) return;
  out.clear();
  const std::vector<double>& d = seeds[x].neibDist;
  for (const std::int32_t y : members) {
    if (y != x) out.push_back(y);
  }
  auto closer = [&](std::int32_t a, std::int32_t b) {
    const double da = sortKey(d[a]), db = sortKey(d[b]);
    return da < db || (da == db && a < b);
  };
  const std::size_t n = std::min(want, out.size());
  std::partial_sort(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n), out.end(), closer);
  out.resize(n);
}

// The density of |r| for pairs one seed off, from both sets' geometry.
struct WrongDensity {
  double width = 0.0;           // of a bin
  std::vector<double> density;  // of |r| per bin; beyond the last, `tail`
  double tail = 0.0;
  double median = 0.0;  // of |r|

  // The density of r itself (both signs) at r.
  double at(double r) const {
    const double a = std::fabs(r) / width;
    if (!(a < static_cast<double>(density.size()))) return tail * 0.5;
    return density[static_cast<std::size_t>(a)] * 0.5;
  }
};

void addDecoys(const SeedSet& seeds, const SeedNeighbours& kept, std::int32_t k,
               std::vector<double>& out) {
  const std::int32_t used = std::min(kept.count, k + 1);
  for (std::size_t x = 0; x < seeds.size(); ++x) {
    const std::int32_t* row = kept.nearest.data() + x * kept.count;
    if (used < 2) return;
    const std::vector<double>& dy = seeds[row[0]].neibDist;
    const std::vector<double>& dx = seeds[x].neibDist;
    for (std::int32_t l = 1; l < used; ++l) {
      const double r = std::fabs(dy[row[l]] - dx[row[l]]);
      if (std::isfinite(r)) out.push_back(r);
    }
  }
}

// Empty (width 0) when the sets give no decoy or only zero disagreements:
// then no pairing of them can be told from another.
WrongDensity wrongDensity(std::vector<double> decoys) {
  WrongDensity g;
  if (decoys.empty()) return g;
  auto middle = decoys.begin() + static_cast<std::ptrdiff_t>(decoys.size() / 2);
  std::nth_element(decoys.begin(), middle, decoys.end());
  g.median = *middle;
  if (!(g.median > 0.0)) return g;
  g.width = g.median / kDecoyBins;
  const double largest = *std::max_element(decoys.begin(), decoys.end());
  const auto bins = static_cast<std::size_t>(largest / g.width) + 1;
  std::vector<double> counts(bins, 0.0);
  for (const double r : decoys) ++counts[std::min(bins - 1, static_cast<std::size_t>(r / g.width))];
  // Half a count in every bin, so that no disagreement is impossible.
  const double total = static_cast<double>(decoys.size()) * g.width;
  g.density.resize(bins);
  for (std::size_t b = 0; b < bins; ++b) g.density[b] = (counts[b] + 0.5) / total;
  g.tail = 0.5 / total;
  return g;
}

double normal(double r, double sigma) {
  const double z = r / sigma;
  return std::exp(-0.5 * z * z) / (sigma * std::sqrt(2.0 * std::numbers::pi));
}

double logistic(double logit) {
  return 1.0 / (1.0 + std::exp(-std::clamp(logit, -kLogitLimit, kLogitLimit)));
}

// phi / g at r: how much more likely r is for a right pair than for a wrong one.
double likelihoodRatio(double r, double sigma, const WrongDensity& g) {
  if (!std::isfinite(r)) return 0.0;
  return normal(r, sigma) / g.at(r);
}

}  // namespace

SeedNeighbours seedNeighbours(const SeedSet& seeds, std::int32_t count) {
  requireDistances(seeds, "seeds");
  const auto n = static_cast<std::int32_t>(seeds.size());
  SeedNeighbours kept;
  kept.count = std::max(0, std::min(count, n - 1));
  kept.nearest.resize(static_cast<std::size_t>(n) * kept.count);
  // (distance, index) pairs order as the neighbours do. The count-th nearest
  // of a few seeds bounds the count-th nearest of all, so one pass that keeps
  // only the seeds within that bound leaves a short list to select from.
  using Key = std::pair<double, std::int32_t>;
  const std::size_t want = static_cast<std::size_t>(kept.count);
  const std::int32_t sampled = std::min<std::int32_t>(n, 8 * kept.count + 1);
  std::vector<double> sample;
  std::vector<Key> within;
  for (std::int32_t x = 0; x < n && kept.count > 0; ++x) {
    const std::vector<double>& d = seeds[x].neibDist;
    sample.clear();
    for (std::int32_t y = 0; y < sampled; ++y) {
      if (y != x) sample.push_back(sortKey(d[y]));
    }
    double bound = std::numeric_limits<double>::infinity();
    if (sample.size() >= want) {
      std::nth_element(sample.begin(), sample.begin() + (kept.count - 1), sample.end());
      bound = sample[want - 1];
    }
    within.clear();
    for (std::int32_t y = 0; y < n; ++y) {
      const double key = sortKey(d[y]);
      if (key <= bound && y != x) within.emplace_back(key, y);
    }
    std::nth_element(within.begin(), within.begin() + (kept.count - 1), within.end());
    std::sort(within.begin(), within.begin() + (kept.count - 1));
    for (std::size_t c = 0; c < want; ++c) {
      kept.nearest[static_cast<std::size_t>(x) * want + c] = within[c].second;
    }
  }
  return kept;
}

std::vector<SeedPair> matchedPairs(const MatchTable& table) {
  std::vector<SeedPair> pairs;
  for (const MatchRow& row : table) {
    if (row[2] == kUnmatched) continue;
    pairs.push_back({static_cast<std::int32_t>(row[0]), static_cast<std::int32_t>(row[1])});
  }
  return pairs;
}

Consistency consistency(const SeedSet& set1, const SeedSet& set2, std::span<const SeedPair> pairs,
                        const ConsistencyOptions& options) {
  requireDistances(set1, "set1");
  requireDistances(set2, "set2");
  if (options.neighbours < 1) throw std::invalid_argument("neighbours must be at least 1");
  const std::size_t m = pairs.size();
  std::vector<std::int32_t> pairOf1(set1.size(), -1), pairOf2(set2.size(), -1);
  for (std::size_t i = 0; i < m; ++i) {
    const SeedPair& pair = pairs[i];
    const std::int32_t seed[2] = {pair.p, pair.q};
    const std::size_t size[2] = {set1.size(), set2.size()};
    std::vector<std::int32_t>* pairOf[2] = {&pairOf1, &pairOf2};
    for (int side = 0; side < 2; ++side) {
      const std::string where = "pairs[" + std::to_string(i) + ", " + std::to_string(side) + "]";
      const std::string set = side == 0 ? "set1" : "set2";
      if (seed[side] < 0 || static_cast<std::size_t>(seed[side]) >= size[side]) {
        throw std::invalid_argument(where + " = " + std::to_string(seed[side]) + " is outside " +
                                    set + ", which holds " + std::to_string(size[side]) + " seeds");
      }
      std::int32_t& first = (*pairOf[side])[seed[side]];
      if (first >= 0) {
        throw std::invalid_argument("pairs: seed " + std::to_string(seed[side]) + " of " + set +
                                    " is in pairs " + std::to_string(first) + " and " +
                                    std::to_string(i));
      }
      first = static_cast<std::int32_t>(i);
    }
  }

  Consistency out;
  out.score.assign(m, 0.0);
  out.trusted.assign(m, 0);
  const std::size_t k = std::min<std::size_t>(options.neighbours, m > 0 ? m - 1 : 0);
  out.neighbours = static_cast<std::int32_t>(k);
  if (m < 3) return out;

  const std::int32_t keep = std::max(kKeptNeighbours, 3 * options.neighbours);
  auto usable = [&](const SeedNeighbours* given, const SeedSet& seeds) {
    return given != nullptr && given->nearest.size() == seeds.size() * given->count &&
           given->count >=
               std::min<std::int32_t>(keep, static_cast<std::int32_t>(seeds.size()) - 1);
  };
  SeedNeighbours own1, own2;
  if (!usable(options.neighbours1, set1)) own1 = seedNeighbours(set1, keep);
  if (!usable(options.neighbours2, set2)) own2 = seedNeighbours(set2, keep);
  const SeedNeighbours& near1 = usable(options.neighbours1, set1) ? *options.neighbours1 : own1;
  const SeedNeighbours& near2 = usable(options.neighbours2, set2) ? *options.neighbours2 : own2;

  std::vector<double> decoys;
  addDecoys(set1, near1, static_cast<std::int32_t>(options.neighbours), decoys);
  addDecoys(set2, near2, static_cast<std::int32_t>(options.neighbours), decoys);
  const WrongDensity g = wrongDensity(std::move(decoys));
  if (g.width == 0.0) return out;

  // Each pair's k nearest other pairs by the distances of set 1.
  std::vector<std::int32_t> seeds1(m);
  for (std::size_t i = 0; i < m; ++i) seeds1[i] = pairs[i].p;
  std::vector<std::int32_t> near(m * k);
  std::vector<double> d1(m * k), d2(m * k);
  std::vector<std::int32_t> found;
  for (std::size_t i = 0; i < m; ++i) {
    nearestMembers(
        set1, near1, pairs[i].p, k, [&](std::int32_t y) { return pairOf1[y] >= 0; }, seeds1, found);
    for (std::size_t l = 0; l < k; ++l) {
      const std::int32_t j = pairOf1[found[l]];
      near[i * k + l] = j;
      d1[i * k + l] = set1[pairs[i].p].neibDist[pairs[j].p];
      d2[i * k + l] = set2[pairs[i].q].neibDist[pairs[j].q];
    }
  }

  std::vector<double> logGrowth(m * k, std::numeric_limits<double>::quiet_NaN());
  for (std::size_t e = 0; e < m * k; ++e) {
    if (d1[e] > 0.0 && d2[e] > 0.0) logGrowth[e] = std::log(d2[e] / d1[e]);
  }
  std::vector<double>& t = out.score;
  std::fill(t.begin(), t.end(), 1.0);
  std::vector<double> r(m * k), gr(m * k);
  // The finite disagreements of the fit: r^2, the wrong density there, the
  // trust in the neighbour each was measured against.
  std::vector<double> fitR2, fitG, fitW;
  fitR2.reserve(m * k);
  fitG.reserve(m * k);
  fitW.reserve(m * k);
  double s = 1.0;
  double sigma = g.median / 6.0;
  double share = 0.5;
  const double sigmaCap = kSigmaCap * g.median;
  const auto nk = static_cast<double>(m * k);
  for (int pass = 0; pass < kPasses; ++pass) {
    fitR2.clear();
    fitG.clear();
    fitW.clear();
    for (std::size_t e = 0; e < m * k; ++e) {
      r[e] = d2[e] - s * d1[e];
      gr[e] = g.at(r[e]);
      if (!std::isfinite(r[e])) continue;
      fitR2.push_back(r[e] * r[e]);
      fitG.push_back(gr[e]);
      fitW.push_back(t[near[e]]);
    }
    // sigma and the share of right disagreements, each counted by the trust
    // in the neighbour it was measured against; each pass starts from the
    // last one's fit, and stops once it no longer moves.
    double fitWeight = 0.0;
    for (const double w : fitW) fitWeight += w;
    for (int round = 0; round < kFitRounds && fitWeight > 0.0; ++round) {
      const double density = share / (sigma * std::sqrt(2.0 * std::numbers::pi));
      const double halfInverse = -0.5 / (sigma * sigma);
      double right = 0.0, spread = 0.0;
      for (std::size_t e = 0; e < fitR2.size(); ++e) {
        const double f = density * std::exp(fitR2[e] * halfInverse);
        const double responsibility = f / (f + (1.0 - share) * fitG[e]) * fitW[e];
        right += responsibility;
        spread += responsibility * fitR2[e];
      }
      if (!(right > 0.0)) break;
      const double nextShare = std::clamp(right / fitWeight, 1e-6, 1.0 - 1e-6);
      const double nextSigma = std::clamp(std::sqrt(spread / right), 1e-6 * sigmaCap, sigmaCap);
      const bool settled = std::fabs(nextSigma - sigma) <= kSettled * sigma &&
                           std::fabs(nextShare - share) <= kSettled;
      share = nextShare;
      sigma = nextSigma;
      if (settled) break;
    }
    double prior = 0.0;
    for (const double v : t) prior += v;
    prior = std::clamp(prior / static_cast<double>(m), 1e-4, 1.0 - 1e-4);
    const double priorLogit = std::log(prior / (1.0 - prior));
    std::vector<double> next(m);
    double moved = 0.0;
    for (std::size_t i = 0; i < m; ++i) {
      double logit = priorLogit;
      for (std::size_t l = 0; l < k; ++l) {
        const double tj = t[near[i * k + l]];
        logit += std::log(tj * likelihoodRatio(r[i * k + l], sigma, g) + (1.0 - tj));
      }
      next[i] = logistic(logit);
      moved = std::max(moved, std::fabs(next[i] - t[i]));
    }
    t = std::move(next);
    // The growth, from pairs and neighbours both trusted.
    double weight = 0.0, logRatio = 0.0;
    for (std::size_t e = 0; e < m * k; ++e) {
      if (std::isnan(logGrowth[e])) continue;
      const double w = t[e / k] * t[near[e]];
      weight += w;
      logRatio += w * logGrowth[e];
    }
    const double last = s;
    if (weight > 0.1 * nk && std::isfinite(logRatio)) {
      s = std::clamp(std::exp(logRatio / weight), kMinScale, kMaxScale);
    }
    // Scores that no longer move, under a growth that no longer moves, are done.
    if (moved <= kSettled && std::fabs(s - last) <= kSettled * last) break;
  }
  out.scale = s;
  out.tolerance = sigma;
  for (std::size_t i = 0; i < m; ++i) {
    out.trusted[i] = t[i] > 0.5;
    out.estTruePairs += t[i];
  }

  // Seeds of set 1 outside the trusted pairs whose partner some set-2 seed
  // outside them could be: one that fits the trusted neighbours' partners.
  std::vector<std::int32_t> trusted1;
  std::vector<std::uint8_t> trustedSeed1(set1.size(), 0), trustedSeed2(set2.size(), 0);
  for (std::size_t i = 0; i < m; ++i) {
    if (!out.trusted[i]) continue;
    trusted1.push_back(pairs[i].p);
    trustedSeed1[pairs[i].p] = 1;
    trustedSeed2[pairs[i].q] = 1;
  }
  // Where no trusted pairs lie around a seed, nothing says where its partner
  // would be; such a seed is counted as having one as often as the seeds left
  // over on both sides allow. A small wrong structure that agrees with itself
  // so still scores a low recall.
  const double left1 = static_cast<double>(set1.size() - trusted1.size());
  const double left2 = static_cast<double>(set2.size() - trusted1.size());
  const double unseen = left1 > 0.0 ? std::min(1.0, left2 / left1) : 0.0;
  auto covered = [&](std::size_t x) {
    if (trusted1.size() < kMinCover) return false;
    const std::int32_t* row = near1.nearest.data() + x * near1.count;
    std::size_t count = 0;
    for (std::int32_t c = 0; c < near1.count && count < kMinCover; ++c) count += trustedSeed1[row[c]];
    return count >= kMinCover;
  };
  {
    const std::size_t kt = std::min(k, trusted1.size());
    std::vector<std::int32_t> candidates;
    for (std::size_t x = 0; x < set1.size(); ++x) {
      if (trustedSeed1[x]) continue;
      const double own = pairOf1[x] >= 0 ? t[pairOf1[x]] : 0.0;
      if (!covered(x)) {
        out.estMissedPairs += unseen * (1.0 - own);
        continue;
      }
      nearestMembers(
          set1, near1, static_cast<std::int32_t>(x), kt,
          [&](std::int32_t y) { return trustedSeed1[y] != 0; }, trusted1, found);
      const std::vector<double>& dx = set1[x].neibDist;
      const std::int32_t anchor = pairs[pairOf1[found[0]]].q;
      candidates.clear();
      const std::int32_t* row =
          near2.nearest.data() + static_cast<std::size_t>(anchor) * near2.count;
      for (std::int32_t c = 0; c < std::min(near2.count, keep); ++c) {
        if (!trustedSeed2[row[c]]) candidates.push_back(row[c]);
      }
      if (candidates.empty()) continue;
      double best = -std::numeric_limits<double>::infinity();
      for (const std::int32_t y : candidates) {
        const std::vector<double>& dy = set2[y].neibDist;
        double logit = 0.0;
        for (const std::int32_t nb : found) {
          const double residual = dy[pairs[pairOf1[nb]].q] - s * dx[nb];
          logit += std::log(likelihoodRatio(residual, sigma, g));
        }
        best = std::max(best, logit);
      }
      const double fits = logistic(best - std::log(static_cast<double>(candidates.size())));
      out.estMissedPairs += fits * (1.0 - own);
    }
  }

  const double truePairs = out.estTruePairs + out.estMissedPairs;
  out.estPrecision = out.estTruePairs / static_cast<double>(m);
  out.estRecall = truePairs > 0.0 ? out.estTruePairs / truePairs : 0.0;
  out.estF1 = 2.0 * out.estTruePairs / (static_cast<double>(m) + truePairs);
  return out;
}

}  // namespace seedmatch
