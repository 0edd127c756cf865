#include "seedmatch/measure/measure.h"

#include <algorithm>
#include <cmath>

#include "terms.h"

namespace seedmatch {
namespace {

double sumOfSquaredDifferences(Vec a, Vec b) {
  const std::size_t n = std::min(a.size(), b.size());
  double sum = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double d = a[i] - b[i];
    sum = sum + d * d;
  }
  return sum;
}

}  // namespace

double l2(Vec a, Vec b) { return std::sqrt(sumOfSquaredDifferences(a, b)); }

double l2V2(Vec a, Vec b) {
  const auto n = static_cast<double>(std::min(a.size(), b.size()));
  return std::sqrt(sumOfSquaredDifferences(a, b) / n);
}

double l2HB(Vec a, Vec b, bool flagA, bool flagB, double valueBoth, double valueOnlyB,
            double valueOnlyA) {
  if (flagA && flagB) return valueBoth;
  if (flagA) return valueOnlyA;
  if (flagB) return valueOnlyB;
  return l2(a, b);
}

bool check_zero_patch(Vec v) {
  return std::all_of(v.begin(), v.end(), [](double x) { return x == 0.0; });
}

double pts_diff(std::int32_t a, std::int32_t b) {
  return ptsDiffOf(static_cast<float>(a), static_cast<float>(b));
}

int isZero(const SEED& seed) {
  float sum = 0.0f;
  for (double v : seed.desc[0]) sum = static_cast<float>(static_cast<double>(sum) + v);
  return sum > 0.0f ? 0 : 1;
}

SeedDistTerms seedDistTerms(const SEED& s1, const SEED& s2, const SeedDistWeights& w) {
  SeedDistTerms t{};
  t.dDesc0 = l2(s1.desc[0], s2.desc[0]);
  t.dDesc1 = l2(s1.desc[1], s2.desc[1]);
  t.dDesc2 = l2(s1.desc[2], s2.desc[2]);
  t.dDesc4 = l2(s1.desc[4], s2.desc[4]);
  t.dPts0 = pts_diff(s1.pts[0], s2.pts[0]);
  t.dPts1 = pts_diff(s1.pts[1], s2.pts[1]);
  t.dPts01 = t.dPts0 + t.dPts1;
  t.dPts2 = pts_diff(s1.pts[2], s2.pts[2]);
  t.seedDist = weightedSeedDist(t.dDesc0, t.dDesc1, t.dDesc2, t.dPts01, t.dDesc4, t.dPts2, w);
  return t;
}

double seedDist(const SEED& s1, const SEED& s2, const SeedDistWeights& w) {
  return seedDistTerms(s1, s2, w).seedDist;
}

double pcal(const SEED& s1, const SEED& s2, std::int32_t /*setSize*/) {
  return l2(s1.neibHist, s2.neibHist);
}

double rpd(const SeedSet& bidders, const SeedSet& objects, std::int32_t bidder, std::int32_t object,
           std::span<const std::int32_t> owner, std::int32_t divisor) {
  const std::vector<double>& objectDist = objects[static_cast<std::size_t>(object)].neibDist;
  const std::vector<double>& bidderDist = bidders[static_cast<std::size_t>(bidder)].neibDist;
  std::int32_t count = 0;
  double sum = 0.0;
  const auto n = static_cast<std::int32_t>(owner.size());
  for (std::int32_t k = 0; k < n; ++k) {
    const std::int32_t holder = owner[static_cast<std::size_t>(k)];
    if (holder == -1 || k == object) continue;
    const double e =
        objectDist[static_cast<std::size_t>(k)] - bidderDist[static_cast<std::size_t>(holder)];
    sum = sum + std::fabs(e);
    count = count + 1;
  }
  const double mean = count == 0 ? 0.0 : sum / static_cast<double>(count);
  return mean / static_cast<double>(divisor);
}

}  // namespace seedmatch
