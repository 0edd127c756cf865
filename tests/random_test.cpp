#include <cmath>
#include <ctime>
#include <map>

#include "support.h"

namespace seedmatch {

using V = std::vector<double>;

// n seeds with assorted positions, descriptors and point counts, and the
// distances between them; every seed k with k % emptyEvery == 1 is empty.
SeedSet seeds(int n, int salt, int emptyEvery) {
  SeedSet set;
  for (int k = 0; k < n; ++k) {
    const double a = (k * 7919 + salt * 104729) % 1000 / 100.0;
    set.push_back({{a, std::fmod(a * 3.7, 10.0), std::fmod(a * 1.3 + k, 10.0)},
                   {V{emptyEvery > 0 && k % emptyEvery == 1 ? 0.0 : 1.0 + a, 0.0}, V{a * a / 10.0, std::fmod(a, 1.7)}},
                   {100, 50 + k * 13 % 400, 100}, n, {}, {}});
  }
  for (SEED& s : set) {
    for (const SEED& o : set) s.neibDist.push_back(std::hypot(s.pos[0] - o.pos[0], s.pos[1] - o.pos[1], s.pos[2] - o.pos[2]));
    NeibDis(s);
  }
  return set;
}

// The rows of the draws of rand() seeded with the second of the call: each
// non-empty bidder in index order takes rand() % objects, drawn again while
// taken; an empty object is used up unpaired. Each pair costs what it would in
// the auction at that moment, and no cost is held against costLimit (NaN here).
TEST(RandomMatching, RowsFollowTheDrawsOfRand) {
  for (const auto [n1, n2, empty1, empty2] :
       {std::array{12, 12, 4, 0}, {7, 15, 3, 5}, {15, 7, 6, 3}, {30, 30, 0, 0}}) {
    SCOPED_TRACE(testing::Message() << n1 << " x " << n2);
    const SeedSet set1 = seeds(n1, 1, empty1), set2 = seeds(n2, 2, empty2);
    const MatchRow held{7.0, 7.0, 7.0};  // rows already in the table stay in front
    MatchTable table;
    std::time_t second = 0;
    for (int tries = 0; tries < 5 && second != std::time(nullptr); ++tries) {
      second = std::time(nullptr);
      table = {held};
      RandomMatching(set1, set2, table, std::numeric_limits<double>::quiet_NaN(), 1.0, 0.5, 2.0, {});
    }
    const bool set1Bids = n1 <= n2;
    const SeedSet& bidders = set1Bids ? set1 : set2;
    const SeedSet& objects = set1Bids ? set2 : set1;
    std::vector<std::int32_t> owner(objects.size(), -1);
    std::vector<bool> used(objects.size());
    std::map<int, MatchRow> rows;  // by object index
    std::srand(static_cast<unsigned>(second));
    for (int b = 0; b < static_cast<int>(bidders.size()); ++b) {
      if (isZero(bidders[b])) continue;
      int j;
      while (used[j = std::rand() % static_cast<int>(objects.size())]) {}
      used[j] = true;
      if (isZero(objects[j])) continue;
      const double s = set1Bids ? seedDist(bidders[b], objects[j], {}) : seedDist(objects[j], bidders[b], {});
      const double cost = 2.0 * rpd(bidders, objects, b, j, owner, 20) + (1.0 * s + 0.5 * pcal(bidders[b], objects[j], n1));
      rows[j] = set1Bids ? MatchRow{1.0 * b, 1.0 * j, cost} : MatchRow{1.0 * j, 1.0 * b, cost};
      owner[j] = b;
    }
    MatchTable expected{held};
    for (const auto& [j, row] : rows) expected.push_back(row);
    EXPECT_EQ(table, expected);
  }
}

}  // namespace seedmatch
