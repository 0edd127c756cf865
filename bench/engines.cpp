// Times the matching step alone: reads a pair of seed files once, then runs
// the fast engine, the plain one or both on it and prints, per run, the
// engine, its pass count, its row count, its seconds, its counters and a hash
// of the rows it appended.
//
// --engine counted runs the fast engine with its count of contenders (objects
// whose fixed part plus price is below the winner's cost plus price), which
// costs a full row of fixed parts per pass and so is kept out of the timings.
// --engine prepared prepares every pair's seedDist and pcal once, timed on its
// own line, and then runs the fast engine on them, as a sweep of weights does.
// --stop-after S asks the fast engine to stop S seconds into each run and
// prints how long it took to return after the request.
//
// usage: seedmatch-engines [--engine fast|plain|both|counted|prepared] [--repeat R] [--stop-after
// S]
//                          FILE1 FILE2 SEED_WEIGHT HIST_WEIGHT RPD_WEIGHT COST_LIMIT
#include <atomic>
#include <bit>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "matching/engine.h"
#include "matching/fixed_source.h"
#include "matching/shared.h"
#include "seedmatch/matching/matching.h"
#include "seedmatch/seed/seed.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: seedmatch-engines [--engine fast|plain|both|counted|prepared] [--repeat R] "
               "[--stop-after S] FILE1 FILE2 "
               "SEED_WEIGHT HIST_WEIGHT RPD_WEIGHT COST_LIMIT\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace seedmatch;
  std::string_view engine = "fast";
  int repeat = 1;
  double stopAfter = -1.0;
  int arg = 1;
  for (; arg + 1 < argc && argv[arg][0] == '-'; arg += 2) {
    const std::string_view option = argv[arg];
    if (option == "--engine") {
      engine = argv[arg + 1];
    } else if (option == "--repeat") {
      repeat = std::atoi(argv[arg + 1]);
    } else if (option == "--stop-after") {
      stopAfter = std::atof(argv[arg + 1]);
    } else {
      return usage();
    }
  }
  if (argc - arg != 6 || (engine != "fast" && engine != "plain" && engine != "both" &&
                          engine != "counted" && engine != "prepared")) {
    return usage();
  }
  SeedSet set1;
  SeedSet set2;
  for (const auto& [path, set] : {std::pair{argv[arg], &set1}, std::pair{argv[arg + 1], &set2}}) {
    if (auto error = readSeed(path, *set)) {
      std::fprintf(stderr, "%s\n", formatReadError(*error).c_str());
      return 2;
    }
  }
  const double seedWeight = std::atof(argv[arg + 2]);
  const double histWeight = std::atof(argv[arg + 3]);
  const double rpdWeight = std::atof(argv[arg + 4]);
  const double costLimit = std::atof(argv[arg + 5]);

  std::stop_source stop;
  const auto time = [&](const char* name, auto run) {
    MatchTable table;
    stop = {};
    const auto start = std::chrono::steady_clock::now();
    std::atomic<bool> done = false;
    std::jthread stopper;
    if (stopAfter >= 0.0) {
      stopper = std::jthread([&] {
        const auto at = start + std::chrono::duration<double>(stopAfter);
        while (!done && std::chrono::steady_clock::now() < at) {
          std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        if (!done) stop.request_stop();
      });
    }
    const AuctionStats stats =
        run(set1, set2, table, costLimit, seedWeight, histWeight, rpdWeight, SeedDistWeights{});
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    done = true;
    if (stats.stopped) {
      std::printf("stopped after %.6f seconds, %.6f after the request\n", seconds.count(),
                  seconds.count() - stopAfter);
    }
    // FNV-1a over the rows' bits, so that two engines' tables compare at a glance.
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (const MatchRow& row : table) {
      for (const double v : row) hash = (hash ^ std::bit_cast<std::uint64_t>(v)) * 0x100000001b3u;
    }
    std::printf(
        "%s passes %lld rows %zu seconds %.6f contenders %lld exact %lld repeats %lld table "
        "%016llx\n",
        name, static_cast<long long>(stats.passes), table.size(), seconds.count(),
        static_cast<long long>(stats.contenders), static_cast<long long>(stats.exactSums),
        static_cast<long long>(stats.repeats), static_cast<unsigned long long>(hash));
  };
  PairTerms terms;
  if (engine == "prepared") {
    const auto start = std::chrono::steady_clock::now();
    terms = preparePairTerms(set1, set2, SeedDistWeights{});
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    std::printf("preparing seconds %.6f\n", seconds.count());
  }
  const auto fast = [&stop](auto&&... args) {
    return nModifiedWeightedBipartiteMatching(args..., AuctionOptions{nullptr, stop.get_token()});
  };
  const auto prepared = [&terms, &stop](auto&&... args) {
    return nModifiedWeightedBipartiteMatching(args..., AuctionOptions{&terms, stop.get_token()});
  };
  // Contenders of a pass, from its bidder's full row of fixed parts.
  const auto counted = [](const SeedSet& s1, const SeedSet& s2, MatchTable& table, double limit,
                          double seedW, double histW, double rpdW, const SeedDistWeights& w) {
    const Weights weights{seedW, histW, rpdW, limit, w};
    const AuctionInput in = auctionInput(s1, s2, weights, nullptr, {});
    const AuctionState shape = startState(in, false);
    FixedSource fixed(in, shape, true);
    std::vector<double> row(shape.live.size());
    std::int64_t contenders = 0;
    const auto count = [&](const PassSeen& seen) {
      if (seen.pos < 0) return;
      fixed.fillRow(seen.bidder, row.data());
      const double winner = seen.cost + seen.price[static_cast<std::size_t>(seen.pos)];
      for (std::size_t p = 0; p < row.size(); ++p) contenders += row[p] + seen.price[p] < winner;
    };
    AuctionStats stats = watchedAuction(s1, s2, table, weights, count);
    stats.contenders = contenders;
    return stats;
  };
  for (int r = 0; r < repeat; ++r) {
    if (engine == "counted") time("counted", counted);
    if (engine == "prepared") time("prepared", prepared);
    if (engine == "fast" || engine == "both") time("fast", fast);
    if (engine == "plain" || engine == "both") time("plain", referenceAuction);
  }
  return 0;
}
