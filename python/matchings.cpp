// Matchings in Python: the auction and the random baseline over two seed
// sets, and the match table they leave as read-only arrays.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <stop_token>
#include <string>
#include <vector>

#include "bindings.h"
#include "interruptible.h"
#include "seedmatch/matching/matching.h"
#include "seedmatch/measure/measure.h"

namespace py = pybind11;
using namespace seedmatch;

namespace seedmatch_python {
namespace {

// The matched rows' (set-1 index, set-2 index), truncated as the reports truncate them.
py::array pairsOf(const PyMatching& m) {
  std::vector<std::int64_t> pairs;
  for (const MatchRow& row : m.table) {
    if (row[2] == kUnmatched) continue;
    pairs.push_back(static_cast<std::int32_t>(row[0]));
    pairs.push_back(static_cast<std::int32_t>(row[1]));
  }
  py::array_t<std::int64_t> out(
      std::vector<py::ssize_t>{static_cast<py::ssize_t>(pairs.size() / 2), 2});
  std::copy(pairs.begin(), pairs.end(), out.mutable_data());
  return readOnly(out);
}

std::string matchingRepr(const PyMatching& m) {
  std::size_t pairs = 0;
  for (const MatchRow& row : m.table) pairs += row[2] != kUnmatched;
  std::string text = "<seedmatch.Matching: " + std::to_string(pairs) + " pairs in " +
                     std::to_string(m.table.size()) + " rows";
  text += m.passes ? ", " + std::to_string(*m.passes) + " passes" : ", at random";
  if (m.emptySeeds[0] + m.emptySeeds[1] > 0) {
    text += ", empty seeds left out " + std::to_string(m.emptySeeds[0]) + " and " +
            std::to_string(m.emptySeeds[1]);
  }
  if (m.weights) {
    const Weights& w = *m.weights;
    const std::pair<const char*, double> fields[] = {{"seed_weight", w.seed},
                                                     {"hist_weight", w.hist},
                                                     {"rpd_weight", w.rpd},
                                                     {"cost_limit", w.costLimit}};
    for (std::size_t k = 0; k < std::size(fields); ++k) {
      text += std::string(k ? ", " : "; ") + fields[k].first + "=" +
              py::repr(py::float_(fields[k].second)).cast<std::string>();
    }
  }
  return text + ">";
}

py::array tableView(py::object self) {
  const MatchTable& table = self.cast<const PyMatching&>().table;
  const auto rows = static_cast<py::ssize_t>(table.size());
  if (rows == 0) return readOnly(py::array_t<double>(std::vector<py::ssize_t>{0, 3}));
  return readOnly(
      py::array_t<double>(std::vector<py::ssize_t>{rows, 3}, table.front().data(), self));
}

// What a matching of set1 and set2 remembers of them.
void noteSets(PyMatching& m, const PySeedSet& set1, const PySeedSet& set2) {
  m.madeFrom = {set1.fingerprint, set2.fingerprint};
  for (std::size_t k = 0; k < 2; ++k) {
    for (const SEED& seed : (k == 0 ? set1 : set2).seeds) m.emptySeeds[k] += isZero(seed);
  }
}

}  // namespace

void requireMadeFrom(const PyMatching& matching, const PySeedSet& set1, const PySeedSet& set2) {
  const std::array<std::uint64_t, 2> given{set1.fingerprint, set2.fingerprint};
  if (given == matching.madeFrom) return;
  if (given[0] == matching.madeFrom[1] && given[1] == matching.madeFrom[0]) {
    throw py::value_error(
        "the matching was made from these two seed sets the other way round; give them in "
        "the order they were matched");
  }
  throw py::value_error(
      "the matching was made from other seed sets: their seeds differ from these");
}

void bindMatchings(py::module_& m) {
  py::class_<PyMatching>(m, "Matching")
      .def_property_readonly("table", &tableView)
      .def_property_readonly("pairs", &pairsOf)
      .def_property_readonly("passes", [](const PyMatching& m) { return m.passes; })
      .def_property_readonly(
          "empty_seeds",
          [](const PyMatching& m) { return py::make_tuple(m.emptySeeds[0], m.emptySeeds[1]); },
          "(in set1, in set2): seeds whose descriptor 0 does not sum to a positive value, which "
          "are never paired.")
      .def("__repr__", &matchingRepr)
      .def("__len__", [](const PyMatching& m) { return m.table.size(); })
      .def("_require_made_from", &requireMadeFrom, py::arg("set1"), py::arg("set2"),
           "Raises ValueError unless the matching was made from set1 and set2.");

  // Ctrl-C stops it, and so does cancel.is_set() (a threading.Event) turning true.
  m.def(
      "match",
      [](const PySeedSet& set1, const PySeedSet& set2, double seedWeight, double histWeight,
         double rpdWeight, double costLimit, const py::object& cancel) {
        PyMatching result;
        result.weights = Weights{seedWeight, histWeight, rpdWeight, costLimit};
        noteSets(result, set1, set2);
        result.passes = runInterruptibly(
            [&](std::stop_token stop) {
              return nModifiedWeightedBipartiteMatching(set1.seeds, set2.seeds, result.table,
                                                        *result.weights,
                                                        AuctionOptions{nullptr, stop})
                  .passes;
            },
            [&] {
              if (!cancel.is_none() && cancel.attr("is_set")().cast<bool>()) {
                PyErr_SetNone(PyExc_KeyboardInterrupt);
                throw py::error_already_set();
              }
            });
        return result;
      },
      py::arg("set1"), py::arg("set2"), py::arg("seed_weight"), py::arg("hist_weight"),
      py::arg("rpd_weight"), py::arg("cost_limit"), py::arg("cancel") = py::none());

  // Keeps the GIL: the baseline draws from the process-wide rand() generator.
  m.def("random_match", [](const PySeedSet& set1, const PySeedSet& set2, double seedWeight,
                           double histWeight, double rpdWeight, double costLimit) {
    PyMatching result;
    result.weights = Weights{seedWeight, histWeight, rpdWeight, costLimit};
    noteSets(result, set1, set2);
    RandomMatching(set1.seeds, set2.seeds, result.table, costLimit, seedWeight, histWeight,
                   rpdWeight, SeedDistWeights{});
    return result;
  });
}

}  // namespace seedmatch_python
