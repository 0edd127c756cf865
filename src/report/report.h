// Reports on a match table. Rows with cost exactly -1.0 are unmatched and
// skipped; row indices are truncated to 32-bit integers and must lie inside
// their seed sets (tables from the matchings always do).
#pragma once

#include <cstdio>

#include "../matching/matching.h"
#include "../measure/measure.h"
#include "../seed/seed.h"

namespace seedmatch {

// Mean |distance within set 1 - distance within set 2| over all pairs of matched
// rows, from positions. 4.0 for fewer than two rows; NaN for no matched pair.
double ComputeAvgRP(const SeedSet& set1, const SeedSet& set2, const MatchTable& table);
// The same from the stored neighbour distances, read from the earlier row's seed.
double nComputeAvgRP(const SeedSet& set1, const SeedSet& set2, const MatchTable& table);

// Prints one line per matched row and a summary line (or a fixed line for an
// empty table) to out.
void evaluateMatch(const SeedSet& set1, const SeedSet& set2, const MatchTable& table,
                   double seedWeight, double histWeight, const SeedDistWeights& w,
                   std::FILE* out = stdout);

// Prints "row p q posDisp" for every matched row (or a message for an empty table).
// The three trailing numbers are accepted and ignored.
void print_match_pairs(const SeedSet& set1, const SeedSet& set2, const MatchTable& table,
                       double, double, double, std::FILE* out = stdout);

}  // namespace seedmatch
