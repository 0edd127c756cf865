#include "seedmatch/report/report.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace seedmatch {
namespace {

bool isUnmatched(const MatchRow& row) { return row[2] == kUnmatched; }

// The index a stored value selects: truncation toward zero. Values that would
// not land inside [0, size) (NaN included) are refused before the conversion,
// which would otherwise be undefined for them.
std::int32_t rowIndex(double stored, std::size_t size, std::size_t row, const char* which) {
  if (!(stored > -1.0 && stored < static_cast<double>(size))) {
    throw std::out_of_range("match row " + std::to_string(row) + ": index " +
                            std::to_string(stored) + " is outside seed set " + which);
  }
  return static_cast<std::int32_t>(stored);
}

struct RowSeeds {
  std::int32_t p;  // index in seed set 1
  std::int32_t q;  // index in seed set 2
};

RowSeeds rowSeeds(const SeedSet& set1, const SeedSet& set2, const MatchTable& table,
                  std::size_t row) {
  return {rowIndex(table[row][0], set1.size(), row, "1"),
          rowIndex(table[row][1], set2.size(), row, "2")};
}

double distance(const double (&a)[3], const double (&b)[3]) {
  const double dx = a[0] - b[0];
  const double dy = a[1] - b[1];
  const double dz = a[2] - b[2];
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

// The seeds of the matched rows, in table order, with each row's place in the
// table for messages. Rows are converted in ascending order and the first one
// naming a seed outside its set throws; afterConvert(rows) runs after each
// conversion, so a caller can interleave its own checks in the same order.
struct MatchedRow {
  RowSeeds seeds;
  std::size_t row;
};

template <class AfterConvert>
std::vector<MatchedRow> matchedRows(const SeedSet& set1, const SeedSet& set2,
                                    const MatchTable& table, AfterConvert afterConvert) {
  std::vector<MatchedRow> rows;
  for (std::size_t i = 0; i < table.size(); ++i) {
    if (isUnmatched(table[i])) continue;
    rows.push_back({rowSeeds(set1, set2, table, i), i});
    afterConvert(rows);
  }
  return rows;
}

std::size_t at(std::int32_t index) { return static_cast<std::size_t>(index); }

// Refuses the pair of rows a (earlier) and b when the earlier row's seeds hold
// no stored distance at the later row's indices; set 1 is checked first.
void checkStoredPair(const SeedSet& set1, const SeedSet& set2, const MatchedRow& a,
                     const MatchedRow& b) {
  const auto check = [&](const SEED& seed, std::int32_t other, const char* set) {
    if (at(other) >= seed.neibDist.size()) {
      throw std::out_of_range("match row " + std::to_string(a.row) + ": seed set " + set +
                              " holds no stored distance to seed " + std::to_string(other));
    }
  };
  check(set1[at(a.seeds.p)], b.seeds.p, "1");
  check(set2[at(a.seeds.q)], b.seeds.q, "2");
}

// Throws for the first pair of rows, in visiting order, whose stored distance
// is missing. Each row is compared with the largest index of the rows after
// it, so tables the seeds can serve cost one pass over the rows.
void checkStoredDistances(const SeedSet& set1, const SeedSet& set2,
                          const std::vector<MatchedRow>& rows) {
  std::int32_t laterP = -1;
  std::int32_t laterQ = -1;
  bool complete = true;
  for (std::size_t i = rows.size(); i-- > 0;) {
    const RowSeeds s = rows[i].seeds;
    if (static_cast<std::size_t>(laterP + 1) > set1[at(s.p)].neibDist.size() ||
        static_cast<std::size_t>(laterQ + 1) > set2[at(s.q)].neibDist.size()) {
      complete = false;
    }
    laterP = std::max(laterP, s.p);
    laterQ = std::max(laterQ, s.q);
  }
  if (complete) return;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    for (std::size_t j = i + 1; j < rows.size(); ++j) checkStoredPair(set1, set2, rows[i], rows[j]);
  }
}

// Mean of |within(i, j)| over every pair of matched rows i < j (positions in
// rows), added i ascending, then j ascending. terms(i, out) writes within(i, j)
// for every j > i to out[j - i - 1]; the terms of one i are independent, so
// that loop may run wide while the sum keeps its order.
template <class Terms>
double averageOverRowPairs(std::size_t matched, Terms terms) {
  // 64-bit: m matched rows make m(m-1)/2 pairs, beyond 32 bits from 65,537 rows on.
  double sum = 0.0;
  std::int64_t count = 0;
  std::vector<double> term(matched);
  for (std::size_t i = 0; i < matched; ++i) {
    const std::size_t n = matched - i - 1;
    terms(i, term.data());
    for (std::size_t k = 0; k < n; ++k) sum = sum + std::fabs(term[k]);
    count = count + static_cast<std::int64_t>(n);
  }
  // With no pair this is 0.0 / 0.0 evaluated by the hardware: the NaN it yields
  // is what the report prints.
  return sum / static_cast<double>(count);
}

}  // namespace

double ComputeAvgRP(const SeedSet& set1, const SeedSet& set2, const MatchTable& table) {
  if (table.size() < 2) return 4.0;
  const std::vector<MatchedRow> rows =
      matchedRows(set1, set2, table, [](const std::vector<MatchedRow>&) {});
  // The positions of the matched rows' seeds, one array per coordinate and set.
  const std::size_t m = rows.size();
  std::array<std::vector<double>, 6> c;
  for (auto& v : c) v.resize(m);
  for (std::size_t r = 0; r < m; ++r) {
    for (std::size_t k = 0; k < 3; ++k) {
      c[k][r] = set1[at(rows[r].seeds.p)].pos[k];
      c[3 + k][r] = set2[at(rows[r].seeds.q)].pos[k];
    }
  }
  return averageOverRowPairs(m, [&](std::size_t i, double* out) {
    const double x1 = c[0][i], y1 = c[1][i], z1 = c[2][i];
    const double x2 = c[3][i], y2 = c[4][i], z2 = c[5][i];
    const double* cx1 = c[0].data();
    const double* cy1 = c[1].data();
    const double* cz1 = c[2].data();
    const double* cx2 = c[3].data();
    const double* cy2 = c[4].data();
    const double* cz2 = c[5].data();
    for (std::size_t j = i + 1; j < m; ++j) {
      const double dx1 = x1 - cx1[j], dy1 = y1 - cy1[j], dz1 = z1 - cz1[j];
      const double dx2 = x2 - cx2[j], dy2 = y2 - cy2[j], dz2 = z2 - cz2[j];
      const double dist1 = std::sqrt(dx1 * dx1 + dy1 * dy1 + dz1 * dz1);
      const double dist2 = std::sqrt(dx2 * dx2 + dy2 * dy2 + dz2 * dz2);
      out[j - i - 1] = dist1 - dist2;
    }
  });
}

double nComputeAvgRP(const SeedSet& set1, const SeedSet& set2, const MatchTable& table) {
  if (table.size() < 2) return 4.0;
  // A pair with the first matched row is visited before any later row is
  // converted, so its stored distances are checked as soon as its row is.
  const std::vector<MatchedRow> rows =
      matchedRows(set1, set2, table, [&](const std::vector<MatchedRow>& sofar) {
        if (sofar.size() >= 2) checkStoredPair(set1, set2, sofar.front(), sofar.back());
      });
  checkStoredDistances(set1, set2, rows);
  const std::size_t m = rows.size();
  std::vector<std::int32_t> p(m), q(m);
  for (std::size_t r = 0; r < m; ++r) {
    p[r] = rows[r].seeds.p;
    q[r] = rows[r].seeds.q;
  }
  return averageOverRowPairs(m, [&](std::size_t i, double* out) {
    const double* dist1 = set1[at(p[i])].neibDist.data();
    const double* dist2 = set2[at(q[i])].neibDist.data();
    for (std::size_t j = i + 1; j < m; ++j) out[j - i - 1] = dist1[at(p[j])] - dist2[at(q[j])];
  });
}

MatchReport reportMatch(const SeedSet& set1, const SeedSet& set2, const MatchTable& table,
                        double seedWeight, double histWeight, const SeedDistWeights& w) {
  MatchReport report;
  report.tableRows = table.size();
  if (table.empty()) return report;
  // Both averages read every matched row of a table of two or more rows, so a
  // table the seed sets cannot serve is refused here, before any row is built.
  const double positionAverage = ComputeAvgRP(set1, set2, table);
  const double storedAverage = nComputeAvgRP(set1, set2, table);

  const auto setSize = static_cast<std::int32_t>(set1.size());
  double sumCost = 0.0;
  double sumDesc0 = 0.0, sumDesc1 = 0.0, sumDesc2 = 0.0;
  double sumPts01 = 0.0, sumDesc4 = 0.0, sumPts2 = 0.0;
  for (std::size_t i = 0; i < table.size(); ++i) {
    if (isUnmatched(table[i])) continue;
    const RowSeeds r = rowSeeds(set1, set2, table, i);
    const SEED& s1 = set1[at(r.p)];
    const SEED& s2 = set2[at(r.q)];
    const SeedDistTerms t = seedDistTerms(s1, s2, w);
    const double hist = pcal(s1, s2, setSize);
    const double evalCost = seedWeight * t.seedDist + histWeight * hist;
    report.rows.push_back({r.p, r.q, table[i][2], t.seedDist, hist, evalCost, t.dDesc0, t.dDesc1,
                           t.dDesc2, t.dPts01, t.dDesc4, t.dPts2, distance(s1.pos, s2.pos)});
    sumCost = sumCost + evalCost;
    sumDesc0 = sumDesc0 + t.dDesc0;
    sumDesc1 = sumDesc1 + t.dDesc1;
    sumDesc2 = sumDesc2 + t.dDesc2;
    sumPts01 = sumPts01 + t.dPts01;
    sumDesc4 = sumDesc4 + t.dDesc4;
    sumPts2 = sumPts2 + t.dPts2;
  }
  const auto n = static_cast<double>(table.size());
  report.summary =
      ReportSummary{sumCost,      sumCost / n,  storedAverage, positionAverage, sumDesc0 / n,
                    sumDesc1 / n, sumDesc2 / n, sumPts01 / n,  sumDesc4 / n,    sumPts2 / n};
  return report;
}

void printReport(const MatchReport& report, std::FILE* out) {
  if (!report.summary) {
    std::fputs("SUM1: 999  AVG1: 999  SUM2: 999 AVG2: 999", out);
    std::fputs(" AVGS 999 999 999 999\n", out);
    std::fflush(out);
    return;
  }
  for (const ReportRow& r : report.rows) {
    std::fprintf(out, "%2d %2d %6.3f %6.3f %6.3f %6.3f %6.3f %6.3f %6.3f %6.3f %6.3f %6.3f %6.3f\n",
                 r.p, r.q, r.storedCost, r.seedDist, r.pcal, r.evalCost, r.dDesc0, r.dDesc1,
                 r.dDesc2, r.dPts01, r.dDesc4, r.dPts2, r.posDisp);
  }
  const ReportSummary& s = *report.summary;
  std::fprintf(out, "SUM: %6.3f AVG: %6.3f avgRP: %6.3f navgRP: %6.3f", s.sumCost, s.avgCost,
               s.avgRP, s.navgRP);
  std::fprintf(out, " AVGSd: %6.3f %6.3f %6.3f %6.3f %6.3f %6.3f\n", s.avgDDesc0, s.avgDDesc1,
               s.avgDDesc2, s.avgDPts01, s.avgDDesc4, s.avgDPts2);
}

void evaluateMatch(const SeedSet& set1, const SeedSet& set2, const MatchTable& table,
                   double seedWeight, double histWeight, const SeedDistWeights& w, std::FILE* out) {
  printReport(reportMatch(set1, set2, table, seedWeight, histWeight, w), out);
}

void print_match_pairs(const SeedSet& set1, const SeedSet& set2, const MatchTable& table, double,
                       double, double, std::FILE* out) {
  if (table.empty()) {
    std::fputs("No matched pair\n", out);
    std::fflush(out);
    return;
  }
  // Every row is converted, and a bad one refused, before anything is printed.
  for (const MatchedRow& m :
       matchedRows(set1, set2, table, [](const std::vector<MatchedRow>&) {})) {
    std::fprintf(out, "%2d %2d %2d %8.3f\n", static_cast<int>(m.row), m.seeds.p, m.seeds.q,
                 distance(set1[at(m.seeds.p)].pos, set2[at(m.seeds.q)].pos));
  }
}

}  // namespace seedmatch
