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

#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

#include "seedmatch/matching/matching.h"
#include "seedmatch/measure/measure.h"
#include "seedmatch/seed/seed.h"

namespace seedmatch {

// Mean |distance within set 1 - distance within set 2| over all pairs of matched
// rows, from positions. 4.0 for a table of fewer than two rows (matched or not);
// NaN (0.0 / 0.0) when there is no pair of matched rows.
double ComputeAvgRP(const SeedSet& set1, const SeedSet& set2, const MatchTable& table);
// The same from the stored neighbour distances: for rows i < j the distances are
// set1[p_i].neibDist[p_j] and set2[q_i].neibDist[q_j], never the mirrored entries.
double nComputeAvgRP(const SeedSet& set1, const SeedSet& set2, const MatchTable& table);

// One matched row of the report: its seeds, the stored cost and the terms of
// the cost recomputed without rpd, in the order the row line prints them.
struct ReportRow {
  std::int32_t p;  // index in seed set 1
  std::int32_t q;  // index in seed set 2
  double storedCost;
  double seedDist, pcal, evalCost;
  double dDesc0, dDesc1, dDesc2, dPts01, dDesc4, dPts2;
  double posDisp;
};

// The summary line. Means divide by the table's row count, unmatched rows included.
struct ReportSummary {
  double sumCost, avgCost;
  double avgRP;   // nComputeAvgRP, from the stored distances
  double navgRP;  // ComputeAvgRP, from the positions
  double avgDDesc0, avgDDesc1, avgDDesc2, avgDPts01, avgDDesc4, avgDPts2;
};

struct MatchReport {
  std::vector<ReportRow> rows;           // the matched rows, in table order
  std::size_t tableRows = 0;             // unmatched rows included
  std::optional<ReportSummary> summary;  // none for an empty table
};

// Every number the report prints, at full precision, computed once.
// Throws std::out_of_range for a table the seed sets cannot serve.
MatchReport reportMatch(const SeedSet& set1, const SeedSet& set2, const MatchTable& table,
                        double seedWeight, double histWeight, const SeedDistWeights& w);

// Writes the report: one line per row and the summary line, or the fixed line
// when there is no summary.
void printReport(const MatchReport& report, std::FILE* out = stdout);

// printReport(reportMatch(...)): everything is computed before a byte is written.
void evaluateMatch(const SeedSet& set1, const SeedSet& set2, const MatchTable& table,
                   double seedWeight, double histWeight, const SeedDistWeights& w,
                   std::FILE* out = stdout);

// Prints "row p q posDisp" for every matched row, row counting from 0 over all
// rows (or a message for an empty table; nothing when no row is matched).
// The three trailing numbers are accepted and ignored.
void print_match_pairs(const SeedSet& set1, const SeedSet& set2, const MatchTable& table, double,
                       double, double, std::FILE* out = stdout);

}  // namespace seedmatch
