#include "fixed_part.h"

#include <algorithm>
#include <cmath>

#include "measure/terms.h"
#include "shared.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace seedmatch {
namespace {

constexpr std::array<int, 4> kCostDescs{0, 1, 2, 4};  // descriptors seedDist reads
constexpr std::size_t kBlock = 64;                    // objects handled side by side

void sqrtInPlace(double* v, std::size_t n) {
  std::size_t i = 0;
#if defined(__SSE2__)
  for (; i + 2 <= n; i += 2) _mm_storeu_pd(v + i, _mm_sqrt_pd(_mm_loadu_pd(v + i)));
#endif
  for (; i < n; ++i) v[i] = std::sqrt(v[i]);
}

// Sum of squared differences of a[0..len) against columns[i * stride + first ..]
// for n objects, each in ascending i. The objects are independent, so wide
// vectors give each the same bits.
SEEDMATCH_CLONES
void squaredDistances(const double* a, std::size_t len, const double* columns, std::size_t stride,
                      std::size_t first, std::size_t n, double* out) {
  for (std::size_t p = 0; p < n; ++p) out[p] = 0.0;
  for (std::size_t i = 0; i < len; ++i) {
    const double ai = a[i];
    const double* col = columns + i * stride + first;
    for (std::size_t p = 0; p < n; ++p) {
      const double d = ai - col[p];
      out[p] = out[p] + d * d;
    }
  }
}

}  // namespace

bool uniformLayout(const SeedSet& seeds) {
  for (const SEED& s : seeds) {
    for (int d : kCostDescs) {
      if (s.desc[static_cast<std::size_t>(d)].size() !=
          seeds.front().desc[static_cast<std::size_t>(d)].size()) {
        return false;
      }
    }
    if (s.neibHist.size() != seeds.front().neibHist.size()) return false;
  }
  return true;
}

ObjectColumns makeColumns(const SeedSet& objects, const std::vector<std::int32_t>& live,
                          const SEED& bidderShape) {
  ObjectColumns c;
  c.count = live.size();
  const SEED& shape = objects[static_cast<std::size_t>(live.front())];
  for (std::size_t d = 0; d < kCostDescs.size(); ++d) {
    const auto desc = static_cast<std::size_t>(kCostDescs[d]);
    c.descLen[d] = std::min(shape.desc[desc].size(), bidderShape.desc[desc].size());
    c.desc[d].resize(c.descLen[d] * c.count);
    for (std::size_t p = 0; p < c.count; ++p) {
      const SEED& s = objects[static_cast<std::size_t>(live[p])];
      for (std::size_t i = 0; i < c.descLen[d]; ++i) c.desc[d][i * c.count + p] = s.desc[desc][i];
    }
  }
  for (std::size_t k = 0; k < 3; ++k) {
    c.pts[k].resize(c.count);
    for (std::size_t p = 0; p < c.count; ++p) {
      c.pts[k][p] = static_cast<float>(objects[static_cast<std::size_t>(live[p])].pts[k]);
    }
  }
  c.histLen = std::min(shape.neibHist.size(), bidderShape.neibHist.size());
  c.hist.resize(c.histLen * c.count);
  for (std::size_t p = 0; p < c.count; ++p) {
    const SEED& s = objects[static_cast<std::size_t>(live[p])];
    for (std::size_t i = 0; i < c.histLen; ++i) c.hist[i * c.count + p] = s.neibHist[i];
  }
  return c;
}

namespace {

// seedDist and pcal of bidder against columns first .. first + m (m <= kBlock).
void termsBlock(const SEED& bidder, const std::array<float, 3>& pts, const ObjectColumns& c,
                const SeedDistWeights& w, std::size_t first, std::size_t m, double* seedDist,
                double* pcal, bool withPcal = true) {
  const std::size_t n = c.count;
  std::array<std::array<double, kBlock>, 4> dDesc{};
  for (std::size_t d = 0; d < 4; ++d) {
    const auto desc = static_cast<std::size_t>(kCostDescs[d]);
    squaredDistances(bidder.desc[desc].data(), c.descLen[d], c.desc[d].data(), n, first, m,
                     dDesc[d].data());
    sqrtInPlace(dDesc[d].data(), m);
  }
  if (withPcal) {
    squaredDistances(bidder.neibHist.data(), c.histLen, c.hist.data(), n, first, m, pcal);
    sqrtInPlace(pcal, m);
  } else {
    std::fill(pcal, pcal + m, 0.0);
  }
  for (std::size_t p = 0; p < m; ++p) {
    const double dPts01 =
        ptsDiffOf(pts[0], c.pts[0][first + p]) + ptsDiffOf(pts[1], c.pts[1][first + p]);
    const double dPts2 = ptsDiffOf(pts[2], c.pts[2][first + p]);
    seedDist[p] =
        weightedSeedDist(dDesc[0][p], dDesc[1][p], dDesc[2][p], dPts01, dDesc[3][p], dPts2, w);
  }
}

std::array<float, 3> singlePts(const SEED& seed) {
  std::array<float, 3> pts{};
  for (std::size_t k = 0; k < 3; ++k) pts[k] = static_cast<float>(seed.pts[k]);
  return pts;
}

}  // namespace

void fixedRow(const SEED& bidder, const ObjectColumns& c, const Weights& weights, double* fixed,
              bool withPcal) {
  const std::array<float, 3> pts = singlePts(bidder);
  std::array<double, kBlock> s{}, h{};
  for (std::size_t first = 0; first < c.count; first += kBlock) {
    const std::size_t m = std::min(kBlock, c.count - first);
    termsBlock(bidder, pts, c, weights.seedDist, first, m, s.data(), h.data(), withPcal);
    for (std::size_t p = 0; p < m; ++p) {
      fixed[first + p] = fixedPartOf(weights.seed, s[p], weights.hist, h[p]);
    }
  }
}

void termsRange(const SEED& seed, const ObjectColumns& c, const SeedDistWeights& w,
                std::size_t from, std::size_t to, double* seedDist, double* pcal) {
  const std::array<float, 3> pts = singlePts(seed);
  for (std::size_t first = from; first < to; first += kBlock) {
    const std::size_t m = std::min(kBlock, to - first);
    termsBlock(seed, pts, c, w, first, m, seedDist + (first - from), pcal + (first - from));
  }
}

bool pcalLeftOut(const SeedSet& bidders, const SeedSet& objects, const Weights& weights) {
  if (weights.hist != 0.0) return false;
  // With entries of at most 1e100 in size each squared difference stays
  // below 4e200, and no sum of them can reach infinity.
  const auto moderate = [](const SeedSet& seeds) {
    return std::all_of(seeds.begin(), seeds.end(), [](const SEED& s) {
      return s.neibHist.size() < 1'000'000'000 &&
             std::all_of(s.neibHist.begin(), s.neibHist.end(),
                         [](double x) { return std::fabs(x) <= 1e100; });
    });
  };
  return moderate(bidders) && moderate(objects);
}

bool finiteNonNegative(std::initializer_list<double> values) {
  return std::all_of(values.begin(), values.end(),
                     [](double v) { return std::isfinite(v) && v >= 0.0; });
}

void pointCountLowerBounds(const SEED& bidder, const std::array<std::vector<float>, 3>& objectPts,
                           const Weights& weights, double* low) {
  const std::array<float, 3> pts = singlePts(bidder);
  const std::size_t n = objectPts[0].size();
  for (std::size_t p = 0; p < n; ++p) {
    const double dPts01 = ptsDiffOf(pts[0], objectPts[0][p]) + ptsDiffOf(pts[1], objectPts[1][p]);
    const double dPts2 = ptsDiffOf(pts[2], objectPts[2][p]);
    const double s = weightedSeedDist(0.0, 0.0, 0.0, dPts01, 0.0, dPts2, weights.seedDist);
    low[p] = fixedPartOf(weights.seed, s, weights.hist, 0.0);
  }
}

}  // namespace seedmatch
