// Builds two one-seed sets in memory, pairs them at random (one seed each, so
// the pairing is certain) and prints the listing and the report of the pairing.
#include <seedmatch/matching/matching.h>
#include <seedmatch/report/report.h>

#include <utility>
#include <vector>

namespace {

seedmatch::SEED makeSeed(double x, double y, std::vector<double> desc0) {
  seedmatch::SEED seed{{x, y, 0.0}, {std::move(desc0)}, {100, 100, 100}, 1, {0.0}, {}};
  seedmatch::NeibDis(seed);
  return seed;
}

}  // namespace

int main() {
  const seedmatch::SeedSet set1{makeSeed(0.0, 0.0, {1.0})}, set2{makeSeed(3.0, 4.0, {4.0, 9.0})};
  const seedmatch::SeedDistWeights weights{};
  seedmatch::MatchTable table;
  seedmatch::RandomMatching(set1, set2, table, 0.0, 1.0, 0.5, 1.0, weights);
  seedmatch::print_match_pairs(set1, set2, table, 1.0, 0.5, 1.0);
  seedmatch::evaluateMatch(set1, set2, table, 1.0, 0.5, weights);
  return 0;
}
