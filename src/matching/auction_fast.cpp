// The auction engine the driver runs. It makes the same bids, wins and stored
// costs as referenceAuction, pass by pass, but spends its time only where the
// outcome of a pass can still change:
//  - with rpdWeight >= 0 a pair never costs less than its fixed part
//    seedWeight*seedDist + histWeight*pcal, so an object whose gain bound
//    cannot beat the best gain found so far needs no rpd at all, and an rpd
//    sum is abandoned once its partial sum proves the same (sums keep their
//    own order, so every cost keeps its bits);
//  - with weights that are finite and not negative, the fixed part is itself
//    bounded from the point counts alone, and computed only for the objects
//    that bound cannot rule out; otherwise it is computed once for every pair;
//  - rpd visits only the held objects, and the bidder's distances to their
//    holders are gathered once per pass;
//  - a bidder that comes back (one that is outbid, usually again and again)
//    keeps its smallest fixed parts sorted and its holder distances, which it
//    brings up to date from the objects that changed hands since its last pass;
//  - with a negative rpdWeight every object needs its full rpd; when the
//    distances are symmetric the sums of all objects are formed together,
//    reading each held object's row once.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <limits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "cell_bounds.h"
#include "shared.h"
#include "matching.h"

namespace seedmatch {
namespace {

constexpr double kBase = 999999.0;
constexpr double kRpdDivisor = 20.0;
constexpr std::array<int, 4> kCostDescs{0, 1, 2, 4};  // descriptors seedDist reads

// Objects handled side by side when fixed costs are computed.
constexpr std::size_t kBlock = 64;

// seedDist and pcal of one bidder against a block of objects, in the object
// set's own column layout so that the loops run across objects. Every object
// keeps its own order of operations, so each result has the bits seedDist and
// pcal give (both are symmetric in their operands, bit for bit).
struct ObjectColumns {
  std::size_t count = 0;                    // objects stored
  std::array<std::size_t, 4> descLen{};     // common length per descriptor
  std::array<std::vector<double>, 4> desc;  // desc[d][i * count + p]
  std::array<std::vector<float>, 3> pts;    // point counts in single precision
  std::size_t histLen = 0;
  std::vector<double> hist;                 // hist[bin * count + p]
};

void sqrtInPlace(double* v, std::size_t n) {
  std::size_t i = 0;
#if defined(__SSE2__)
  for (; i + 2 <= n; i += 2) _mm_storeu_pd(v + i, _mm_sqrt_pd(_mm_loadu_pd(v + i)));
#endif
  for (; i < n; ++i) v[i] = std::sqrt(v[i]);
}

// Sum of squared differences of a[0..len) against columns[i * stride + first ..]
// for n objects, each in ascending i.
void squaredDistances(const double* a, std::size_t len, const double* columns,
                      std::size_t stride, std::size_t first, std::size_t n, double* out) {
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

// True when every seed has the same descriptor lengths and histogram length,
// as seeds read from one file do; then the column layout applies.
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

double ptsDiff(float a, float b) { return static_cast<double>(std::fabs(a - b)) / 250.0; }

// fixed[p] = seedWeight * seedDist + histWeight * pcal for every column object.
void fixedRow(const SEED& bidder, const ObjectColumns& c, double seedWeight, double histWeight,
              const SeedDistWeights& w, double* fixed) {
  const std::size_t n = c.count;
  std::array<float, 3> pts{};
  for (std::size_t k = 0; k < 3; ++k) pts[k] = static_cast<float>(bidder.pts[k]);
  std::array<std::array<double, kBlock>, 4> dDesc{};
  std::array<double, kBlock> hist{};
  for (std::size_t first = 0; first < n; first += kBlock) {
    const std::size_t m = std::min(kBlock, n - first);
    for (std::size_t d = 0; d < 4; ++d) {
      const auto desc = static_cast<std::size_t>(kCostDescs[d]);
      squaredDistances(bidder.desc[desc].data(), c.descLen[d], c.desc[d].data(), n, first, m,
                       dDesc[d].data());
      sqrtInPlace(dDesc[d].data(), m);
    }
    squaredDistances(bidder.neibHist.data(), c.histLen, c.hist.data(), n, first, m, hist.data());
    sqrtInPlace(hist.data(), m);
    for (std::size_t p = 0; p < m; ++p) {
      const double dPts01 = ptsDiff(pts[0], c.pts[0][first + p]) + ptsDiff(pts[1], c.pts[1][first + p]);
      const double dPts2 = ptsDiff(pts[2], c.pts[2][first + p]);
      double t = dDesc[0][p] + w.wDesc1 * dDesc[1][p];
      t = t + w.wDesc2 * dDesc[2][p];
      t = t + w.wPts01 * dPts01;
      t = t + w.wDesc4 * dDesc[3][p];
      const double s = t + w.wPts2 * dPts2;
      fixed[first + p] = seedWeight * s + histWeight * hist[p];
    }
  }
}

bool finiteNonNegative(std::initializer_list<double> values) {
  return std::all_of(values.begin(), values.end(),
                     [](double v) { return std::isfinite(v) && v >= 0.0; });
}

// True when no distance can make an rpd term infinite or NaN: with a zero
// rpdWeight the rpd term then adds a zero of rpdWeight's sign, whatever its value.
bool distancesModerate(const SeedSet& seeds) {
  constexpr double kModerate = 1e290;  // 2^31 terms of twice this stay finite
  for (const SEED& s : seeds) {
    for (double d : s.neibDist) {
      if (!(std::fabs(d) <= kModerate)) return false;
    }
  }
  return true;
}

// sum[j] += |row[j] - h| for every j < n. The entries are independent, so
// wide vectors give each the same bits.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_ADDRESS__)
__attribute__((target_clones("avx2", "default")))
#endif
void addRow(const double* row, double h, std::size_t n, double* sum) {
  for (std::size_t j = 0; j < n; ++j) sum[j] = sum[j] + std::fabs(row[j] - h);
}

struct Best {
  double gain = -9999.0;
  double cost = 999999.0;
  std::int64_t pos = -1;  // live position of the object, -1 for none

  // Whether an object at pos with this gain displaces the best. The objects of
  // a pass are not visited in ascending order, so equal gains compare by
  // position: the result is the one the ascending scan with its strict test
  // gives. A NaN gain never beats anything; with no best yet the gain must
  // exceed -9999.0 itself.
  bool beatenBy(double g, std::int64_t p) const { return g > gain || (g == gain && p < pos); }
};

class Engine {
 public:
  Engine(const SeedSet& set1, const SeedSet& set2, double costLimit, double seedWeight,
         double histWeight, double rpdWeight, const SeedDistWeights& w)
      : set1Bids_(set1.size() <= set2.size()),
        bidders_(set1Bids_ ? set1 : set2),
        objects_(set1Bids_ ? set2 : set1),
        set1Size_(static_cast<std::int32_t>(set1.size())),
        costLimit_(costLimit),
        seedWeight_(seedWeight),
        histWeight_(histWeight),
        rpdWeight_(rpdWeight),
        w_(w) {
    const std::size_t nObjects = objects_.size();
    for (std::size_t j = 0; j < nObjects; ++j) {
      if (isZero(objects_[j]) == 0) live_.push_back(static_cast<std::int32_t>(j));
    }
    bidderLive_.resize(bidders_.size());
    for (std::size_t b = 0; b < bidders_.size(); ++b) bidderLive_[b] = isZero(bidders_[b]) == 0;
    price_.assign(live_.size(), 0.0);
    owner_.assign(nObjects, -1);
    heldCost_.assign(nObjects, -1.0);
    heldFlag_.assign(nObjects, 0);
    bidIncrement_ = 1.0 / (static_cast<double>(static_cast<std::int32_t>(nObjects)) + 1.0);
    bounded_ = rpdWeight >= 0.0;
    rpdNeeded_ = !(rpdWeight == 0.0 && distancesModerate(bidders_) && distancesModerate(objects_));
    lazyFixed_ = bounded_ && finiteNonNegative({seedWeight, histWeight, w.wDesc1, w.wDesc2,
                                                w.wPts01, w.wDesc4, w.wPts2});
    if (lazyFixed_) {
      for (std::size_t k = 0; k < 3; ++k) {
        objectPts_[k].resize(live_.size());
        for (std::size_t p = 0; p < live_.size(); ++p) {
          objectPts_[k][p] = static_cast<float>(objects_[static_cast<std::size_t>(live_[p])].pts[k]);
        }
      }
    } else {
      computeFixed(set1, seedWeight, histWeight, w);
    }
    symmetric_ = !bounded_ && rpdNeeded_ && objectDistancesSymmetric();
    cells_ = bounded_ && rpdNeeded_ && std::isfinite(rpdWeight) && rpdWeight > 0.0 &&
             !live_.empty() && distancesSuitCells(bidders_, objects_);
    if (cells_) {
      objectsSymmetric_ = objectDistancesSymmetric();
      cellSums_ = makeCellSums(objects_, kCellsPerAxis);
    }
    if (bounded_) {
      seen_.assign(bidders_.size(), 0);
      cache_.resize(bidders_.size());
      uniform_ = !live_.empty() && !bidders_.empty() && uniformLayout(bidders_) &&
                 uniformLayout(objects_);
    }
  }

  AuctionStats run() {
    AuctionStats stats;
    const auto nBidders = static_cast<std::int32_t>(bidders_.size());
    std::deque<std::int32_t> queue;
    for (std::int32_t b = 0; b < nBidders; ++b) queue.push_back(b);
    const std::int64_t passLimit = std::int64_t{30} * nBidders;
    // Every cost is NaN, or no cost can be below the limit: each bidder is
    // dropped on its own pass and nothing is won.
    const bool nothingWins = std::isnan(rpdWeight_) || std::isnan(costLimit_) || live_.empty();
    while (!queue.empty() && stats.passes < passLimit) {
      ++stats.passes;
      const std::int32_t b = queue.front();
      queue.pop_front();
      if (!bidderLive_[static_cast<std::size_t>(b)] || nothingWins) continue;
      const Best best = bounded_ ? boundedPassOf(b) : densePass(b);
      if (!(best.gain >= 0.0) || !(costLimit_ > best.cost)) continue;
      const auto p = static_cast<std::size_t>(best.pos);
      const auto j = static_cast<std::size_t>(live_[p]);
      heldCost_[j] = best.cost;
      if (owner_[j] != -1) {
        queue.push_back(owner_[j]);
      } else {
        const auto at = std::upper_bound(held_.begin(), held_.end(), static_cast<std::int32_t>(j));
        heldRows_.insert(heldRows_.begin() + (at - held_.begin()), objects_[j].neibDist.data());
        held_.insert(at, static_cast<std::int32_t>(j));
        heldFlag_[j] = 1;
        if (cells_) {
          addHeldObject(cellSums_, objects_, static_cast<std::int32_t>(j), objectsSymmetric_);
          rpdScaleHeld_ = rpdScale(held_.size());
          rpdScaleHeldLessOne_ = rpdScale(held_.size() - 1);
        }
      }
      owner_[j] = b;
      changes_.push_back(static_cast<std::int32_t>(j));
      price_[p] = price_[p] + bidIncrement_;
    }
    stats.exactSums = exactSums_;
    return stats;
  }

  void emit(MatchTable& table) const { appendHeldRows(owner_, heldCost_, set1Bids_, table); }

 private:
  void computeFixed(const SeedSet& set1, double seedWeight, double histWeight,
                    const SeedDistWeights& w) {
    const std::size_t nLive = live_.size();
    fixed_.resize(bidders_.size() * nLive);
    if (nLive == 0 || bidders_.empty()) return;
    if (uniformLayout(bidders_) && uniformLayout(objects_)) {
      const ObjectColumns columns = makeColumns(objects_, live_, bidders_.front());
      for (std::size_t b = 0; b < bidders_.size(); ++b) {
        if (bidderLive_[b]) fixedRow(bidders_[b], columns, seedWeight, histWeight, w, &fixed_[b * nLive]);
      }
      return;
    }
    const auto set1Size = static_cast<std::int32_t>(set1.size());
    for (std::size_t b = 0; b < bidders_.size(); ++b) {
      if (!bidderLive_[b]) continue;
      for (std::size_t p = 0; p < nLive; ++p) {
        const SEED& bidder = bidders_[b];
        const SEED& object = objects_[static_cast<std::size_t>(live_[p])];
        const double s = pairSeedDist(bidder, object, set1Bids_, w);
        fixed_[b * nLive + p] = seedWeight * s + histWeight * pcal(bidder, object, set1Size);
      }
    }
  }

  // holderDist_[i] = the bidder's distance to the holder of the i-th held object.
  void gatherHolderDistances(std::int32_t b) {
    if (!rpdNeeded_) return;
    const double* dist = bidders_[static_cast<std::size_t>(b)].neibDist.data();
    holderDist_.resize(held_.size());
    for (std::size_t i = 0; i < held_.size(); ++i) {
      holderDist_[i] = dist[owner_[static_cast<std::size_t>(held_[i])]];
    }
  }

  // The number of held objects rpd averages over for object j.
  std::int32_t rpdCount(std::int32_t j) const {
    return static_cast<std::int32_t>(held_.size()) - heldFlag_[static_cast<std::size_t>(j)];
  }

  // At most 1 / (count * 20), by enough that low * scale stays at most
  // rpd's (low / count) / 20 for any low of normal size, roundings included:
  // cost bounds then need no division.
  static double rpdScale(std::size_t count) {
    return count == 0 ? 0.0 : (1.0 / (20.0 * static_cast<double>(count))) * (1.0 - 0x1p-49);
  }

  double costFromSum(double sum, std::int32_t count, double fixed) const {
    const double mean = count == 0 ? 0.0 : sum / static_cast<double>(count);
    return rpdWeight_ * (mean / kRpdDivisor) + fixed;
  }

  // The pair cost of the bidder and the object at live position p, or NaN when
  // its partial rpd sum already shows that it cannot displace best. The sum
  // runs over the held objects in ascending order as rpd's does, so a cost that
  // is returned has rpd's bits.
  double exactCost(std::size_t p, const Best& best, double fixed) {
    const std::int32_t j = live_[p];
    const std::int32_t count = rpdCount(j);
    ++exactSums_;
    const double* row = objects_[static_cast<std::size_t>(j)].neibDist.data();
    const std::int32_t* held = held_.data();
    const double* holder = holder_;
    const std::size_t n = held_.size();
    // Terms are +0.0 or more (or NaN): a partial sum is at most the final one, and rounded
    // /count, /20, *rpdWeight, +fixed, base-c, -price are monotone, so its gain bounds the final.
    const auto hopeless = [&](double partial) {
      const double g = (kBase - costFromSum(partial, count, fixed)) - price_[p];
      return !best.beatenBy(g, static_cast<std::int64_t>(p));
    };
    // The object's own term is left out by summing around its place in the list.
    const std::size_t self =
        heldFlag_[static_cast<std::size_t>(j)]
            ? static_cast<std::size_t>(std::lower_bound(held, held + n, j) - held)
            : n;
    constexpr std::size_t kCheckEvery = 32;
    double sum = 0.0;
    const auto addRange = [&](std::size_t i, std::size_t to) {
      while (i < to) {
        const std::size_t end = std::min(to, i + kCheckEvery);
        for (; i < end; ++i) {
          const auto k = static_cast<std::size_t>(held[i]);
          sum = sum + std::fabs(row[k] - holder[k]);
        }
        if (i < n && hopeless(sum)) return false;
      }
      return true;
    };
    if (!addRange(0, self) || !addRange(std::min(n, self + 1), n)) return std::nan("");
    return costFromSum(sum, count, fixed);
  }

  // A bidder that comes back keeps its objects' fixed parts, the smallest ones
  // sorted, so that its later passes walk only the front of that list. Most
  // bidders have a single pass; those that come back usually come back often,
  // outbidding each other over the same few objects.
  struct BidderCache {
    std::vector<double> fixed;      // ascending
    std::vector<std::size_t> pos;   // their live positions; equal parts by position
    double beyond = kInfinity;      // at most the fixed part of every other object
    bool filled = false;
    std::vector<double> holder;     // its distance to each object's holder, by object
    std::size_t synced = 0;         // changes of hands holder has seen
  };
  // Room for the bidders' own holder distances; beyond it they are gathered afresh.
  static constexpr std::size_t kHolderBudget = std::size_t{48} << 20;
  static constexpr double kInfinity = std::numeric_limits<double>::infinity();
  static constexpr std::size_t kFirstPrefix = 32;

  // The bidder's distance to the holder of every held object k, at holder[k].
  void gatherByObject(std::int32_t b, double* holder) const {
    const double* dist = bidders_[static_cast<std::size_t>(b)].neibDist.data();
    for (std::int32_t k : held_) {
      holder[k] = dist[owner_[static_cast<std::size_t>(k)]];
    }
  }

  // Brings a bidder's own holder distances up to date: only the objects that
  // changed hands since its last pass are read again, unless they are many.
  void syncHolders(std::int32_t b, BidderCache& c) {
    const std::size_t fresh = changes_.size() - c.synced;
    if (c.holder.empty() || fresh > held_.size() / 2) {
      c.holder.resize(objects_.size());
      gatherByObject(b, c.holder.data());
    } else {
      const double* dist = bidders_[static_cast<std::size_t>(b)].neibDist.data();
      for (std::size_t i = c.synced; i < changes_.size(); ++i) {
        const auto k = static_cast<std::size_t>(changes_[i]);
        c.holder[k] = dist[owner_[k]];
      }
    }
    c.synced = changes_.size();
  }

  Best boundedPassOf(std::int32_t b) {
    const auto at = static_cast<std::size_t>(b);
    BidderCache& c = cache_[at];
    const std::size_t bytes = objects_.size() * sizeof(double);
    const bool own = seen_[at] && (!c.holder.empty() || holderBytes_ + bytes <= kHolderBudget);
    if (rpdNeeded_) {
      if (own) {
        if (c.holder.empty()) holderBytes_ += bytes;
        syncHolders(b, c);
        holder_ = c.holder.data();
      } else {
        holderScratch_.resize(objects_.size());
        gatherByObject(b, holderScratch_.data());
        holder_ = holderScratch_.data();
      }
      if (cells_) gatherBidderSums(cellSums_, held_, holder_);
    }
    if (!seen_[at]) {
      seen_[at] = 1;
      return boundedPass(b);
    }
    if (!c.filled) fillCache(b, kFirstPrefix, c);
    for (;;) {
      const Best best = cachedPass(c);
      // Another object could still do better only if its gain bound reaches the best.
      if (best.gain > kBase - c.beyond) return best;
      fillCache(b, std::max(c.pos.size(), kFirstPrefix) * 4, c);
    }
  }

  // Every object left out of the prefix has a fixed part of at least beyond,
  // so a gain of at most kBase - beyond (prices are never negative); objects
  // with a NaN fixed part are left out for good, as their gain never wins.
  void fillCache(std::int32_t b, std::size_t prefix, BidderCache& c) {
    const std::size_t nLive = live_.size();
    const double* fixed = nullptr;
    if (!lazyFixed_) {
      fixed = &fixed_[static_cast<std::size_t>(b) * nLive];
    } else {
      fixedScratch_.resize(nLive);
      fullFixedRow(b, fixedScratch_.data());
      fixed = fixedScratch_.data();
    }
    order_.clear();
    for (std::size_t p = 0; p < nLive; ++p) {
      if (!std::isnan(fixed[p])) order_.push_back(p);
    }
    const auto before = [fixed](std::size_t x, std::size_t y) {
      return fixed[x] < fixed[y] || (fixed[x] == fixed[y] && x < y);
    };
    c.beyond = kInfinity;
    if (prefix < order_.size()) {
      std::nth_element(order_.begin(), order_.begin() + static_cast<std::ptrdiff_t>(prefix),
                       order_.end(), before);
      c.beyond = fixed[order_[prefix]];
      order_.resize(prefix);
    }
    std::sort(order_.begin(), order_.end(), before);
    c.pos.assign(order_.begin(), order_.end());
    c.fixed.resize(c.pos.size());
    for (std::size_t i = 0; i < c.pos.size(); ++i) c.fixed[i] = fixed[c.pos[i]];
    c.filled = true;
  }

  // The pass over the cached prefix. The object with the largest gain bound
  // has its exact cost first, so that the best gain is high early; the rest
  // follow in ascending fixed part. Every entry from i on has a gain of at most
  // kBase - fixed[i], so the walk ends where that leaves nothing above the best.
  Best cachedPass(const BidderCache& c) {
    Best best;
    pending_.clear();
    std::size_t top = c.pos.size();
    double topBound = -kInfinity;
    for (std::size_t i = 0; i < c.pos.size() && !(kBase - c.fixed[i] < topBound); ++i) {
      const double bound = (kBase - c.fixed[i]) - price_[c.pos[i]];
      if (bound > topBound) {
        topBound = bound;
        top = i;
      }
    }
    if (top == c.pos.size()) return best;
    refine(c.pos[top], c.fixed[top], best);
    settlePending(-kInfinity, best);
    for (std::size_t i = 0; i < c.pos.size(); ++i) {
      const double rest = kBase - c.fixed[i];
      settlePending(rest, best);
      if (rest < best.gain) break;
      if (i != top) refine(c.pos[i], c.fixed[i], best);
    }
    settlePending(-kInfinity, best);
    return best;
  }

  // The exact fixed parts of one bidder against every live object.
  void fullFixedRow(std::int32_t b, double* fixed) {
    const SEED& bidder = bidders_[static_cast<std::size_t>(b)];
    if (uniform_) {
      if (columns_.count == 0) columns_ = makeColumns(objects_, live_, bidders_.front());
      fixedRow(bidder, columns_, seedWeight_, histWeight_, w_, fixed);
      return;
    }
    for (std::size_t p = 0; p < live_.size(); ++p) {
      const SEED& object = objects_[static_cast<std::size_t>(live_[p])];
      const double s = pairSeedDist(bidder, object, set1Bids_, w_);
      fixed[p] = seedWeight_ * s + histWeight_ * pcal(bidder, object, set1Size_);
    }
  }

  Best boundedPass(std::int32_t b) {
    const std::size_t nLive = live_.size();
    bound_.resize(nLive);
    // By the monotonicity of rounding, a cost of at least f gives a gain of
    // at most (kBase - f) - price: bound_ holds that for a lower bound f of
    // the fixed part, or the fixed part itself.
    const double* fixed = nullptr;
    if (lazyFixed_) {
      fixedLowerBounds(b);
    } else {
      fixed = &fixed_[static_cast<std::size_t>(b) * nLive];
      for (std::size_t p = 0; p < nLive; ++p) bound_[p] = (kBase - fixed[p]) - price_[p];
    }
    Best best;
    pending_.clear();
    const auto consider = [&](std::size_t p) {
      if (fixed != nullptr) return refine(p, fixed[p], best);
      // seedDist first: with pcal taken as 0.0 the result is again a lower
      // bound, and pcal is computed only when that bound leaves a chance.
      const SEED& bidder = bidders_[static_cast<std::size_t>(b)];
      const SEED& object = objects_[static_cast<std::size_t>(live_[p])];
      const double s = pairSeedDist(bidder, object, set1Bids_, w_);
      if (!best.beatenBy((kBase - (seedWeight_ * s + histWeight_ * 0.0)) - price_[p],
                         static_cast<std::int64_t>(p))) {
        return;
      }
      refine(p, seedWeight_ * s + histWeight_ * pcal(bidder, object, set1Size_), best);
    };
    // The objects with the largest bounds go first, best bound first, so that
    // the best gain is high early and most other objects are skipped.
    double top = -kBase * 2.0;
    for (std::size_t p = 0; p < nLive; ++p) top = std::max(top, bound_[p]);
    const double cut = top - kShortlistWidth;
    shortlist_.clear();
    for (std::size_t p = 0; p < nLive; ++p) {
      if (bound_[p] >= cut) shortlist_.push_back(p);
    }
    std::sort(shortlist_.begin(), shortlist_.end(), [&](std::size_t x, std::size_t y) {
      return bound_[x] > bound_[y] || (bound_[x] == bound_[y] && x < y);
    });
    for (std::size_t p : shortlist_) {
      settlePending(bound_[p], best);
      // Later objects have no larger bound, and a larger position on a tie;
      // what is still pending has a smaller bound.
      if (!best.beatenBy(bound_[p], static_cast<std::int64_t>(p))) return best;
      consider(p);
      if (p == shortlist_.front()) settlePending(-kInfinity, best);
    }
    settlePending(cut, best);
    for (std::size_t p = 0; p < nLive; ++p) {
      if (!(bound_[p] >= cut) && best.beatenBy(bound_[p], static_cast<std::int64_t>(p))) consider(p);
    }
    settlePending(-kInfinity, best);
    return best;
  }

  // An object whose gain bound still beats the best, with its fixed part: its
  // bound is tightened by the cell sums and it waits in pending_ for its exact
  // cost, so that exact sums are formed largest bound first.
  void refine(std::size_t p, double fixed, Best& best) {
    const auto pos = static_cast<std::int64_t>(p);
    double g = (kBase - fixed) - price_[p];
    if (!best.beatenBy(g, pos)) return;
    const std::int32_t j = live_[p];
    const std::int32_t count = rpdCount(j);
    if (!rpdNeeded_ || count == 0) {
      const double cost = rpdNeeded_ ? costFromSum(0.0, 0, fixed) : rpdWeight_ * 0.0 + fixed;
      g = (kBase - cost) - price_[p];
      if (best.beatenBy(g, pos)) best = {g, cost, pos};
      return;
    }
    if (cells_) {
      const bool jHeld = heldFlag_[static_cast<std::size_t>(j)] != 0;
      const double ownTerm = jHeld ? holder_[j] : 0.0;
      const double scale = jHeld ? rpdScaleHeldLessOne_ : rpdScaleHeld_;
      const auto gainAtMost = [&](double low) {
        return (kBase - (rpdWeight_ * (low * scale) + fixed)) - price_[p];
      };
      g = gainAtMost(rpdSumCoarseLowerBound(cellSums_, j, ownTerm));
      if (!best.beatenBy(g, pos)) return;
      g = gainAtMost(rpdSumLowerBound(cellSums_, j, ownTerm));
      if (!best.beatenBy(g, pos)) return;
    }
    pending_.push_back({g, p, fixed});
    if (pendingHeap_) std::push_heap(pending_.begin(), pending_.end(), lowerPriority);
  }

  // Gives every pending object whose bound is at least above, largest first,
  // its exact cost. What is left has a smaller bound.
  void settlePending(double above, Best& best) {
    if (pending_.empty()) return;
    if (!pendingHeap_) {
      std::make_heap(pending_.begin(), pending_.end(), lowerPriority);
      pendingHeap_ = true;
    }
    while (!pending_.empty() && !(pending_.front().gain < above)) {
      std::pop_heap(pending_.begin(), pending_.end(), lowerPriority);
      const Pending next = pending_.back();
      pending_.pop_back();
      const auto pos = static_cast<std::int64_t>(next.pos);
      if (!best.beatenBy(next.gain, pos)) {
        pending_.clear();  // the rest have no larger bound
        break;
      }
      const double cost = exactCost(next.pos, best, next.fixed);
      const double g = (kBase - cost) - price_[next.pos];
      if (best.beatenBy(g, pos)) best = {g, cost, pos};
    }
    if (pending_.empty()) pendingHeap_ = false;
  }

  struct Pending {
    double gain;  // at least the object's gain
    std::size_t pos;
    double fixed;
  };
  static bool lowerPriority(const Pending& x, const Pending& y) {
    return x.gain < y.gain || (x.gain == y.gain && x.pos > y.pos);
  }

  // Widest gap, in cost, between the best bound and the others tried first.
  static constexpr double kShortlistWidth = 1.0;

  // bound_[p] from the fixed part's formula with the descriptor distances and
  // pcal, which are never negative, replaced by 0.0: with weights that are
  // finite and not negative, rounding being monotone, the result is at most
  // the fixed part (or the fixed part is NaN, and the pair never wins).
  void fixedLowerBounds(std::int32_t b) {
    const SEED& bidder = bidders_[static_cast<std::size_t>(b)];
    std::array<float, 3> pts{};
    for (std::size_t k = 0; k < 3; ++k) pts[k] = static_cast<float>(bidder.pts[k]);
    const double t0 = (0.0 + w_.wDesc1 * 0.0) + w_.wDesc2 * 0.0;
    const double w4 = w_.wDesc4 * 0.0;
    const double h = histWeight_ * 0.0;
    const std::size_t nLive = live_.size();
    for (std::size_t p = 0; p < nLive; ++p) {
      const double dPts01 = ptsDiff(pts[0], objectPts_[0][p]) + ptsDiff(pts[1], objectPts_[1][p]);
      const double dPts2 = ptsDiff(pts[2], objectPts_[2][p]);
      const double t = (t0 + w_.wPts01 * dPts01) + w4;
      const double low = seedWeight_ * (t + w_.wPts2 * dPts2) + h;
      bound_[p] = (kBase - low) - price_[p];
    }
  }

  Best densePass(std::int32_t b) {
    gatherHolderDistances(b);
    const std::size_t nLive = live_.size();
    const double* fixed = &fixed_[static_cast<std::size_t>(b) * nLive];
    if (symmetric_) sumAlongHeldRows();
    Best best;
    std::array<double, kLanes> sum{};
    std::array<std::int32_t, kLanes> object{};
    for (std::size_t p = 0; p < nLive;) {
      const std::size_t m = std::min(kLanes, nLive - p);
      for (std::size_t l = 0; l < m; ++l) object[l] = live_[p + l];
      sum.fill(0.0);
      if (symmetric_) {
        for (std::size_t l = 0; l < m; ++l) sum[l] = rowSums_[static_cast<std::size_t>(object[l])];
      } else if (rpdNeeded_) {
        laneSums(object, m, sum);
      }
      for (std::size_t l = 0; l < m; ++l, ++p) {
        const double c = costFromSum(sum[l], rpdCount(object[l]), fixed[p]);
        const double g = (kBase - c) - price_[p];
        if (g > best.gain) best = {g, c, static_cast<std::int64_t>(p)};
      }
    }
    return best;
  }

  static constexpr std::size_t kLanes = 8;

  // rowSums_[j] = the rpd sum of every object j at once. With symmetric
  // distances, entry j of held object k's row is entry k of object j's row, so
  // the held rows are read one after the other, each in full, and every j
  // still adds its terms in ascending k. Object k's own entry is skipped by
  // putting its sum back.
  void sumAlongHeldRows() {
    const std::size_t n = objects_.size();
    rowSums_.assign(n, 0.0);
    for (std::size_t i = 0; i < held_.size(); ++i) {
      const auto k = static_cast<std::size_t>(held_[i]);
      const double own = rowSums_[k];
      addRow(heldRows_[i], holderDist_[i], n, rowSums_.data());
      rowSums_[k] = own;
    }
  }

  // The rpd sums of the given objects, side by side: each lane adds its own
  // terms in ascending order and skips its own object.
  void laneSums(const std::array<std::int32_t, kLanes>& object, std::size_t m,
                std::array<double, kLanes>& sum) const {
    std::array<const double*, kLanes> row{};
    for (std::size_t l = 0; l < kLanes; ++l) {
      row[l] = objects_[static_cast<std::size_t>(object[std::min(l, m - 1)])].neibDist.data();
    }
    const std::int32_t* held = held_.data();
    const double* holder = holderDist_.data();
    const auto addAll = [&](std::size_t from, std::size_t to) {
      for (std::size_t i = from; i < to; ++i) {
        const std::int32_t k = held[i];
        const double h = holder[i];
        for (std::size_t l = 0; l < kLanes; ++l) sum[l] = sum[l] + std::fabs(row[l][k] - h);
      }
    };
    std::size_t i = 0;
    for (std::size_t l = 0; l < m; ++l) {
      const std::int32_t j = object[l];
      if (!heldFlag_[static_cast<std::size_t>(j)]) continue;
      const auto self = static_cast<std::size_t>(
          std::lower_bound(held_.begin(), held_.end(), j) - held_.begin());
      addAll(i, self);
      for (std::size_t o = 0; o < kLanes; ++o) {
        if (o != l) sum[o] = sum[o] + std::fabs(row[o][j] - holder[self]);
      }
      i = self + 1;
    }
    addAll(i, held_.size());
  }

  // True when every object's distance to every other reads the same both ways.
  bool objectDistancesSymmetric() const {
    const std::size_t n = objects_.size();
    constexpr std::size_t kTile = 64;
    for (std::size_t a = 0; a < n; a += kTile) {
      for (std::size_t c = a; c < n; c += kTile) {
        for (std::size_t j = a; j < std::min(n, a + kTile); ++j) {
          for (std::size_t k = c; k < std::min(n, c + kTile); ++k) {
            if (std::bit_cast<std::uint64_t>(objects_[j].neibDist[k]) !=
                std::bit_cast<std::uint64_t>(objects_[k].neibDist[j])) {
              return false;
            }
          }
        }
      }
    }
    return true;
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
  double bidIncrement_ = 0.0;
  bool bounded_ = true;    // rpdWeight >= 0: a pair costs at least its fixed part
  bool rpdNeeded_ = true;  // rpd can change a cost
  bool lazyFixed_ = false;  // fixed parts computed when needed, not stored
  bool symmetric_ = false;  // object distances read the same both ways
  bool cells_ = false;      // rpd sums bounded from cell sums first
  bool objectsSymmetric_ = false;
  CellSums cellSums_;
  std::int64_t exactSums_ = 0;
  double rpdScaleHeld_ = 0.0;         // rpdScale of the held objects' count
  double rpdScaleHeldLessOne_ = 0.0;  // and of one less, for a held object
  std::vector<Pending> pending_;  // a heap once pendingHeap_ is set
  bool pendingHeap_ = false;
  static constexpr std::size_t kCellsPerAxis = 2;

  std::vector<std::int32_t> live_;  // objects that are not empty, ascending
  std::vector<bool> bidderLive_;
  std::vector<double> fixed_;       // bidder-major, by live position
  std::vector<double> price_;       // by live position
  std::vector<std::int32_t> owner_;  // by object index
  std::vector<double> heldCost_;     // by object index
  std::vector<std::int32_t> heldFlag_;  // 1 when the object has an owner
  std::vector<std::int32_t> held_;      // held objects, ascending
  std::vector<const double*> heldRows_;  // their neibDist rows
  std::vector<double> rowSums_;          // per object, for the pass
  std::vector<double> holderDist_;      // per held object, for the bidder of the pass
  std::vector<double> bound_;           // per live position, for the pass
  std::array<std::vector<float>, 3> objectPts_;  // point counts by live position
  std::vector<std::size_t> shortlist_;
  std::vector<std::uint8_t> seen_;       // by bidder: has had a pass
  std::vector<BidderCache> cache_;       // by bidder, from its second pass on
  bool uniform_ = false;                 // both sets suit the column layout
  ObjectColumns columns_;                // built for the first cache
  std::vector<double> fixedScratch_;
  std::vector<std::int32_t> changes_;    // objects in the order they changed hands
  std::size_t holderBytes_ = 0;          // held by the caches' holder distances
  std::vector<double> holderScratch_;    // holder distances by object, for the pass
  const double* holder_ = nullptr;       // those the pass reads
  std::vector<std::size_t> order_;
};

}  // namespace

AuctionStats nModifiedWeightedBipartiteMatching(const SeedSet& set1, const SeedSet& set2,
                                                MatchTable& table, double costLimit,
                                                double seedWeight, double histWeight,
                                                double rpdWeight, const SeedDistWeights& w) {
  Engine engine(set1, set2, costLimit, seedWeight, histWeight, rpdWeight, w);
  const AuctionStats stats = engine.run();
  engine.emit(table);
  return stats;
}

}  // namespace seedmatch
