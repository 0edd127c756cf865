// Many weightings over one pair of seed sets. The terms that no weight changes
// are prepared once and shared; the auctions run on a pool of threads, each
// on its own weighting, so every row is what a run of its own would give.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <exception>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "bindings.h"
#include "interruptible.h"
#include "seedmatch/matching/matching.h"
#include "seedmatch/report/report.h"
#include "seedmatch/seed/system_error.h"

namespace py = pybind11;
using namespace seedmatch;

namespace seedmatch_python {
namespace {

// What the report prints for one weighting, at full precision.
struct Outcome {
  MatchTable table;
  std::int64_t pairs = 0;
  std::int64_t passes = 0;
  double sumCost = 0.0, avgCost = 0.0, avgRp = 0.0, navgRp = 0.0;
  double seconds = 0.0;
};

// The columns of a sweep's fields, one row a weighting, as Python names them.
constexpr std::array<const char*, 7> kColumns = {"pairs",   "sum_cost", "avg_cost", "avg_rp",
                                                 "navg_rp", "passes",   "seconds"};

std::array<double, kColumns.size()> columnsOf(const Outcome& o) {
  return {double(o.pairs), o.sumCost, o.avgCost, o.avgRp, o.navgRp, double(o.passes), o.seconds};
}

// The report's summary of the table; NaN where the report prints its fixed
// line for an empty table.
void summarise(const SeedSet& set1, const SeedSet& set2, const Weights& w, Outcome& out) {
  const MatchReport report = reportMatch(set1, set2, out.table, w.seed, w.hist, w.seedDist);
  out.pairs = static_cast<std::int64_t>(report.rows.size());
  if (!report.summary) {
    out.sumCost = out.avgCost = out.avgRp = out.navgRp = std::numeric_limits<double>::quiet_NaN();
    return;
  }
  out.sumCost = report.summary->sumCost;
  out.avgCost = report.summary->avgCost;
  out.avgRp = report.summary->avgRP;
  out.navgRp = report.summary->navgRP;
}

// Runs weightings[k] for every k on `threads` threads, counting each finished
// one in `finished`. Returns early, with some outcomes left empty, on a stop.
void runAll(const SeedSet& set1, const SeedSet& set2, const std::vector<Weights>& weightings,
            unsigned threads, std::vector<Outcome>& outcomes, std::atomic<std::size_t>& finished,
            std::stop_token stop) {
  const PairTerms terms = preparePairTerms(set1, set2, SeedDistWeights{}, stop);
  if (stop.stop_requested()) return;
  // A failure on one thread (out of memory, say) stops the others and is
  // raised once they have ended.
  std::stop_source failed;
  std::exception_ptr failure;
  std::mutex failureLock;
  std::stop_callback forward(stop, [&] { failed.request_stop(); });
  std::atomic<std::size_t> next{0};
  auto worker = [&] {
    try {
      for (std::size_t k; !failed.stop_requested() && (k = next++) < weightings.size();) {
        const Weights& w = weightings[k];
        Outcome out;
        const auto start = std::chrono::steady_clock::now();
        const AuctionStats stats = nModifiedWeightedBipartiteMatching(
            set1, set2, out.table, w, AuctionOptions{&terms, failed.get_token()});
        if (stats.stopped) return;
        out.passes = stats.passes;
        summarise(set1, set2, w, out);
        out.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        outcomes[k] = std::move(out);
        ++finished;
      }
    } catch (...) {
      const std::lock_guard lock(failureLock);
      if (!failure) failure = std::current_exception();
      failed.request_stop();
    }
  };
  {
    std::vector<std::jthread> pool;
    try {
      for (unsigned t = 1; t < threads; ++t) pool.push_back(startThread<std::jthread>(worker));
    } catch (const std::system_error&) {
      // No more threads to be had (a memory limit, say): the ones started share the work.
    }
    worker();
  }
  if (failure) std::rethrow_exception(failure);
}

py::tuple sweep(const SeedSet& set1, const SeedSet& set2,
                const py::array_t<double, py::array::c_style | py::array::forcecast>& weightingsArg,
                unsigned threads, const py::object& progress, const py::object& cancel) {
  if (weightingsArg.ndim() != 2 || weightingsArg.shape(1) != 4) {
    throw py::value_error("weightings must have shape (K, 4)");
  }
  if (threads == 0) throw py::value_error("threads must be at least 1");
  std::vector<Weights> weightings(static_cast<std::size_t>(weightingsArg.shape(0)));
  for (std::size_t k = 0; k < weightings.size(); ++k) {
    const double* w = weightingsArg.data() + 4 * k;
    weightings[k] = Weights{w[0], w[1], w[2], w[3]};
  }

  std::vector<Outcome> outcomes(weightings.size());
  std::atomic<std::size_t> finished{0};
  std::size_t reported = 0;
  auto report = [&] {
    const std::size_t now = finished.load();
    if (progress.is_none() || now == reported) return;
    progress(now - reported);
    reported = now;
  };
  // A cluster task's sweep ends when the caller, on another machine, gives up.
  auto reportOrStop = [&] {
    report();
    if (!cancel.is_none() && cancel.attr("is_set")().cast<bool>()) {
      throw py::value_error("the sweep was cancelled");
    }
  };
  if (!weightings.empty()) {
    runInterruptibly(
        [&, threads](std::stop_token stop) {
          runAll(set1, set2, weightings, std::min<std::size_t>(threads, weightings.size()),
                 outcomes, finished, stop);
        },
        reportOrStop);
    report();
  }

  py::array_t<double> fields(std::vector<py::ssize_t>{static_cast<py::ssize_t>(outcomes.size()),
                                                      static_cast<py::ssize_t>(kColumns.size())});
  double* row = fields.mutable_data();
  py::list tables;
  for (const Outcome& o : outcomes) {
    const auto values = columnsOf(o);
    row = std::copy(values.begin(), values.end(), row);
    const auto rows = static_cast<py::ssize_t>(o.table.size());
    py::array_t<double> table(std::vector<py::ssize_t>{rows, 3});
    if (rows > 0) std::copy_n(o.table.front().data(), 3 * o.table.size(), table.mutable_data());
    tables.append(table);
  }
  return py::make_tuple(fields, tables);
}

}  // namespace

void bindSweep(py::module_& m) {
  py::tuple columns(kColumns.size());
  for (std::size_t k = 0; k < kColumns.size(); ++k) columns[k] = py::str(kColumns[k]);
  m.attr("sweep_columns") = columns;
  m.def(
      "sweep",
      [](const PySeedSet& set1, const PySeedSet& set2,
         const py::array_t<double, py::array::c_style | py::array::forcecast>& weightings,
         unsigned threads, const py::object& progress, const py::object& cancel) {
        return sweep(set1.seeds, set2.seeds, weightings, threads, progress, cancel);
      },
      py::arg("set1"), py::arg("set2"), py::arg("weightings"), py::arg("threads"),
      py::arg("progress") = py::none(), py::arg("cancel") = py::none(),
      "(fields, tables): per weighting (seed, hist, rpd weight, cost limit) a row of\n"
      "fields in the columns sweep_columns names, and its match table. progress(n) is\n"
      "called on the calling thread as n more weightings finish. When cancel.is_set() turns\n"
      "true (a threading or distributed Event), it stops and raises ValueError.");
}

}  // namespace seedmatch_python
