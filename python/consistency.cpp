// The label-free estimate in Python: how far a pairing can be trusted,
// judged from the stored distances alone.
#include "seedmatch/report/consistency.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "bindings.h"

namespace py = pybind11;
using namespace seedmatch;

namespace seedmatch_python {
namespace {

// A seed set's neighbours, found on first use and kept with it.
std::shared_ptr<const SeedNeighbours> neighboursOf(PySeedSet& s) {
  if (!s.neighbours) {
    std::shared_ptr<const SeedNeighbours> found;
    {
      py::gil_scoped_release release;
      found = std::make_shared<const SeedNeighbours>(seedNeighbours(s.seeds));
    }
    s.neighbours = std::move(found);
  }
  return s.neighbours;
}

}  // namespace

void bindConsistency(py::module_& m) {
  m.def(
      "consistency",
      [](PySeedSet& set1, PySeedSet& set2,
         const py::array_t<std::int64_t, py::array::c_style | py::array::forcecast>& pairsArg,
         std::int32_t neighbours) {
        if (pairsArg.ndim() != 2 || pairsArg.shape(1) != 2) {
          throw py::value_error("pairs must have shape (M, 2)");
        }
        const SeedSet& seeds1 = set1.seeds;
        const SeedSet& seeds2 = set2.seeds;
        const auto m = static_cast<std::size_t>(pairsArg.shape(0));
        std::vector<SeedPair> pairs(m);
        const std::int64_t* data = pairsArg.data();
        for (std::size_t i = 0; i < m; ++i) {
          for (int side = 0; side < 2; ++side) {
            const std::int64_t v = data[2 * i + side];
            if (v < std::numeric_limits<std::int32_t>::min() ||
                v > std::numeric_limits<std::int32_t>::max()) {
              throw py::value_error("pairs[" + std::to_string(i) + ", " + std::to_string(side) +
                                    "] = " + std::to_string(v) + " is outside set" +
                                    std::to_string(side + 1) + ", which holds " +
                                    std::to_string((side ? seeds2 : seeds1).size()) + " seeds");
            }
          }
          pairs[i] = {static_cast<std::int32_t>(data[2 * i]),
                      static_cast<std::int32_t>(data[2 * i + 1])};
        }
        const auto near1 = neighboursOf(set1);
        const auto near2 = neighboursOf(set2);
        Consistency c;
        {
          py::gil_scoped_release release;  // std::invalid_argument arrives as ValueError
          c = consistency(seeds1, seeds2, pairs,
                          ConsistencyOptions{neighbours, near1.get(), near2.get()});
        }
        py::array_t<double> score(static_cast<py::ssize_t>(m));
        std::copy(c.score.begin(), c.score.end(), score.mutable_data());
        py::array_t<bool> trusted(static_cast<py::ssize_t>(m));
        std::copy(c.trusted.begin(), c.trusted.end(), trusted.mutable_data());
        py::dict fields;
        fields["score"] = readOnly(score);
        fields["trusted"] = readOnly(trusted);
        fields["est_true_pairs"] = c.estTruePairs;
        fields["est_missed_pairs"] = c.estMissedPairs;
        fields["est_precision"] = c.estPrecision;
        fields["est_recall"] = c.estRecall;
        fields["est_f1"] = c.estF1;
        fields["neighbours"] = c.neighbours;
        fields["scale"] = c.scale;
        fields["tolerance"] = c.tolerance;
        return fields;
      },
      py::arg("set1"), py::arg("set2"), py::arg("pairs"), py::arg("neighbours"),
      "The estimate's fields for an (M, 2) array of (index in set1, index in set2).");
}

}  // namespace seedmatch_python
