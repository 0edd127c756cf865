// Reports on a match table. Rows with cost exactly -1.0 are unmatched and
// skipped; row indices are truncated toward zero to 32-bit integers.
//
// Every matched row must name seeds inside their seed sets, and for
// nComputeAvgRP (and so evaluateMatch) the earlier row's seeds must hold a
// stored distance at the later row's indices. Tables from the matchings on
// seeds from the reader always satisfy this. A table that does not is refused
// with std::out_of_range before anything is printed; nothing is read out of
// bounds.
#pragma once

#include <cstdio>

#include "../matching/matching.h"
#include "../measure/measure.h"
#include "../seed/seed.h"

namespace seedmatch {

// Mean |distance within set 1 - distance within set 2| over all pairs of matched
// rows, from positions. 4.0 for a table of fewer than two rows (matched or not);
// NaN (0.0 / 0.0) when there is no pair of matched rows.
double ComputeAvgRP(const SeedSet& set1, const SeedSet& set2, const MatchTable& table);
// The same from the stored neighbour distances: for rows i < j the distances are
// set1[p_i].neibDist[p_j] and set2[q_i].neibDist[q_j], never the mirrored entries.
double nComputeAvgRP(const SeedSet& set1, const SeedSet& set2, const MatchTable& table);

// Prints one line per matched row and a summary line (or a fixed line for an
// empty table) to out. Means divide by the table's row count, unmatched rows
// included.
void evaluateMatch(const SeedSet& set1, const SeedSet& set2, const MatchTable& table,
                   double seedWeight, double histWeight, const SeedDistWeights& w,
                   std::FILE* out = stdout);

// Prints "row p q posDisp" for every matched row, row counting from 0 over all
// rows (or a message for an empty table; nothing when no row is matched).
// The three trailing numbers are accepted and ignored.
void print_match_pairs(const SeedSet& set1, const SeedSet& set2, const MatchTable& table,
                       double, double, double, std::FILE* out = stdout);

}  // namespace seedmatch
