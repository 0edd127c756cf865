// Reads two seed files, pairs them by auction and prints the report, as
// `seedmatch FILE1 FILE2 1 0.5 1 2` does.
#include <seedmatch/matching/matching.h>
#include <seedmatch/report/report.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s FILE1 FILE2\n", argv[0]);
    return 2;
  }
  seedmatch::SeedSet set1, set2;
  if (auto error = seedmatch::readSeedPair(argv[1], argv[2], set1, set2)) {
    std::fprintf(stderr, "%s\n", seedmatch::formatReadError(*error).c_str());
    return 2;
  }
  const double seedWeight = 1.0, histWeight = 0.5, rpdWeight = 1.0, costLimit = 2.0;
  const seedmatch::SeedDistWeights weights{};  // the fixed descriptor weights
  seedmatch::MatchTable table;
  seedmatch::nModifiedWeightedBipartiteMatching(set1, set2, table, costLimit, seedWeight,
                                                histWeight, rpdWeight, weights);
  seedmatch::evaluateMatch(set1, set2, table, seedWeight, histWeight, weights);
  return 0;
}
