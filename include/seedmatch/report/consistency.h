// How far a pairing can be trusted, judged without known pairs: a right pair
// agrees with the right pairs around it, the distance from its seed to theirs
// in set 1 being close to the distance between the partners in set 2.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "seedmatch/matching/matching.h"
#include "seedmatch/seed/seed.h"

namespace seedmatch {

// Each seed's nearest other seeds of its own set by stored distance, nearest
// first (equal distances by index). Depends on the set alone, so one serves
// every pairing of it.
struct SeedNeighbours {
  std::int32_t count = 0;             // kept per seed: min(asked, set size - 1)
  std::vector<std::int32_t> nearest;  // seed i's at [i * count, (i + 1) * count)
};

inline constexpr std::int32_t kKeptNeighbours = 32;

// O(N^2) distance reads. Throws std::invalid_argument when a seed holds fewer
// distances than the set has seeds.
SeedNeighbours seedNeighbours(const SeedSet& seeds, std::int32_t count = kKeptNeighbours);

struct SeedPair {
  std::int32_t p;  // index in set 1
  std::int32_t q;  // index in set 2
};

// The matched rows of a table, in table order, indices truncated as the
// reports truncate them.
std::vector<SeedPair> matchedPairs(const MatchTable& table);

struct ConsistencyOptions {
  std::int32_t neighbours = 10;  // k: the pairs each pair is checked against
  // The sets' neighbours, computed when null or holding fewer than needed.
  const SeedNeighbours* neighbours1 = nullptr;
  const SeedNeighbours* neighbours2 = nullptr;
};

struct Consistency {
  std::vector<double> score;          // per pair: the chance that it is right
  std::vector<std::uint8_t> trusted;  // per pair: score > 0.5
  double estTruePairs = 0.0;          // sum of the scores
  double estMissedPairs = 0.0;        // seeds of set 1 whose partner the pairing lacks
  double estPrecision = 0.0, estRecall = 0.0, estF1 = 0.0;
  std::int32_t neighbours = 0;  // the k used
  double scale = 1.0;           // distances in set 2 over those in set 1
  double tolerance = 0.0;       // spread of the right pairs' disagreements
};

// Judges a one-to-one pairing of set1 and set2 from the seeds' stored
// distances alone. Throws std::invalid_argument, naming "set1", "set2" or
// "pairs", when a seed holds fewer distances than its set has seeds, a pair
// names a seed outside its set, or a seed is in two pairs. A pairing of fewer
// than three pairs gives every pair a score of 0: there is too little to
// check a pair against. O(pairs x k) beyond the neighbours, for bounded
// numbers of iterations and candidates.
Consistency consistency(const SeedSet& set1, const SeedSet& set2, std::span<const SeedPair> pairs,
                        const ConsistencyOptions& options = {});

}  // namespace seedmatch
