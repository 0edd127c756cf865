// The native half of the seedmatch Python package: seed sets, matchings and
// reports over the library. Arrays that already lie in one piece are handed
// out as read-only views; the rest are assembled once per set and then shared.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "consistency.h"
#include "interruptible.h"
#include "matching/matching.h"
#include "measure/measure.h"
#include "report/report.h"
#include "seed/seed.h"
#include "seed/system_error.h"
#include "sweep.h"

namespace py = pybind11;
using namespace seedmatch;

namespace {

struct PySeedSet {
  SeedSet seeds;
  std::optional<std::string> path;  // the file read, as bytes
  // Built from the per-seed vectors on first use; every later view shares them.
  std::optional<py::tuple> descriptors;
  std::optional<py::array> distances;
  std::optional<py::array> histograms;
  std::shared_ptr<const SeedNeighbours> neighbours;  // for the estimate, found on first use
};

struct PyMatching {
  MatchTable table;
  std::optional<std::int64_t> passes;  // none for the random baseline
  // seed_weight, hist_weight, rpd_weight and cost_limit, when known
  std::optional<std::array<double, 4>> weights;
};

py::array readOnly(py::array array) {
  array.attr("setflags")(py::arg("write") = false);
  return array;
}

// A view of field T at offset `first` of every seed, columns apart by sizeof(T).
template <class T>
py::array seedFieldView(const PySeedSet& set, const T* first, py::ssize_t columns,
                        py::handle owner) {
  const auto n = static_cast<py::ssize_t>(set.seeds.size());
  if (n == 0) return readOnly(py::array_t<T>(std::vector<py::ssize_t>{0, columns}));
  return readOnly(py::array_t<T>(
      {n, columns}, {static_cast<py::ssize_t>(sizeof(SEED)), static_cast<py::ssize_t>(sizeof(T))},
      first, owner));
}

// Per-seed vectors gathered into one read-only (N, length) array; every seed's
// vector must have the same length (lengthIfEmpty when there is no seed).
template <class Row>
py::array gathered(const SeedSet& seeds, Row row, const char* what, std::size_t lengthIfEmpty = 0) {
  const std::size_t length = seeds.empty() ? lengthIfEmpty : row(seeds.front()).size();
  py::array_t<double> out(std::vector<py::ssize_t>{static_cast<py::ssize_t>(seeds.size()),
                                                   static_cast<py::ssize_t>(length)});
  double* data = out.mutable_data();
  for (const SEED& seed : seeds) {
    const std::vector<double>& values = row(seed);
    if (values.size() != length) {
      throw py::value_error(std::string("the seeds hold different numbers of ") + what +
                            ", so they do not form one array");
    }
    data = std::copy(values.begin(), values.end(), data);
  }
  return readOnly(out);
}

py::array positionsView(py::object self) {
  const auto& s = self.cast<const PySeedSet&>();
  return seedFieldView(s, s.seeds.empty() ? nullptr : s.seeds[0].pos, 3, self);
}

py::array pointCountsView(py::object self) {
  const auto& s = self.cast<const PySeedSet&>();
  return seedFieldView(s, s.seeds.empty() ? nullptr : s.seeds[0].pts, 3, self);
}

py::tuple descriptorsOf(PySeedSet& s) {
  if (!s.descriptors) {
    py::tuple all(6);
    for (std::size_t d = 0; d < 6; ++d) {
      all[d] = gathered(
          s.seeds, [d](const SEED& seed) -> const std::vector<double>& { return seed.desc[d]; },
          "descriptor values");
    }
    s.descriptors = all;
  }
  return *s.descriptors;
}

py::array distancesOf(PySeedSet& s) {
  if (!s.distances) {
    s.distances = gathered(
        s.seeds, [](const SEED& seed) -> const std::vector<double>& { return seed.neibDist; },
        "distances");
  }
  return *s.distances;
}

py::array histogramsOf(PySeedSet& s) {
  if (!s.histograms) {
    s.histograms = gathered(
        s.seeds, [](const SEED& seed) -> const std::vector<double>& { return seed.neibHist; },
        "histogram bins", kHistBins);
  }
  return *s.histograms;
}

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

py::object pathOf(const PySeedSet& s) {
  if (!s.path) return py::none();
  return py::module_::import("os").attr("fsdecode")(py::bytes(*s.path));
}

std::string seedSetRepr(const PySeedSet& s) {
  std::string text = "<seedmatch.SeedSet: " + std::to_string(s.seeds.size()) + " seeds";
  if (s.path) text += " from " + py::repr(pathOf(s)).cast<std::string>();
  if (!s.seeds.empty()) {
    text += ", descriptor lengths";
    for (const std::vector<double>& d : s.seeds.front().desc) {
      text += ' ';
      text += std::to_string(d.size());
    }
  }
  return text + ">";
}

std::string matchingRepr(const PyMatching& m) {
  std::size_t pairs = 0;
  for (const MatchRow& row : m.table) pairs += row[2] != kUnmatched;
  std::string text = "<seedmatch.Matching: " + std::to_string(pairs) + " pairs in " +
                     std::to_string(m.table.size()) + " rows";
  text += m.passes ? ", " + std::to_string(*m.passes) + " passes" : ", at random";
  if (m.weights) {
    const char* const names[] = {"seed_weight", "hist_weight", "rpd_weight", "cost_limit"};
    for (std::size_t k = 0; k < 4; ++k) {
      text += std::string(k ? ", " : "; ") + names[k] + "=" +
              py::repr(py::float_((*m.weights)[k])).cast<std::string>();
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

// ---- from_arrays: every argument checked before a seed is built --------------

std::string shapeText(const py::array& a) {
  std::string text = "(";
  for (py::ssize_t d = 0; d < a.ndim(); ++d) {
    text += (d ? ", " : "") + std::to_string(a.shape(d));
  }
  return text + (a.ndim() == 1 ? ",)" : ")");
}

py::array anyArray(py::handle object, const std::string& name) {
  py::array array = py::array::ensure(object);
  if (!array) throw py::value_error(name + " must be an array of numbers");
  return array;
}

void requireTwoDims(const py::array& a, const std::string& name, const std::string& shape) {
  if (a.ndim() != 2) {
    throw py::value_error(name + " must have shape " + shape + ", got " + shapeText(a));
  }
}

void requireRows(const py::array& a, const std::string& name, py::ssize_t n) {
  if (a.shape(0) != n) {
    throw py::value_error(name + " has " + std::to_string(a.shape(0)) + " rows, positions has " +
                          std::to_string(n));
  }
}

using Reals = py::array_t<double, py::array::c_style | py::array::forcecast>;

void requireFinite(const Reals& reals, const std::string& name) {
  const double* data = reals.data();
  const auto size = static_cast<std::size_t>(reals.size());
  std::size_t k = 0;
  while (k < size && std::isfinite(data[k])) ++k;
  if (k == size) return;
  const auto columns = static_cast<std::size_t>(reals.shape(1));
  throw py::value_error(
      name + "[" + std::to_string(k / columns) + ", " + std::to_string(k % columns) + "] is " +
      py::str(py::float_(data[k])).cast<std::string>() + "; a seed file holds only finite numbers");
}

// Integers and reals are taken as float64; every value must be finite, as in a seed file.
Reals realArray(py::handle object, const std::string& name, const std::string& shape,
                bool checkFinite = true) {
  const py::array any = anyArray(object, name);
  const char kind = any.dtype().kind();
  if (kind != 'f' && kind != 'i' && kind != 'u') {
    throw py::value_error(name + " must hold real numbers, not " +
                          py::str(any.dtype()).cast<std::string>());
  }
  requireTwoDims(any, name, shape);
  Reals reals = Reals::ensure(any);
  if (!reals) throw py::value_error(name + " cannot be converted to float64");
  if (checkFinite) requireFinite(reals, name);
  return reals;
}

template <class T>
std::vector<std::int32_t> checkedCounts(const py::array& any, const std::string& name) {
  const auto values = py::array_t<T, py::array::c_style | py::array::forcecast>::ensure(any);
  if (!values) throw py::value_error(name + " cannot be converted to integers");
  std::vector<std::int32_t> counts(static_cast<std::size_t>(values.size()));
  const T* data = values.data();
  for (std::size_t k = 0; k < counts.size(); ++k) {
    bool fits = data[k] <= static_cast<T>(std::numeric_limits<std::int32_t>::max());
    if constexpr (std::is_signed_v<T>) {
      fits = fits && data[k] >= std::numeric_limits<std::int32_t>::min();
    }
    if (!fits) {
      throw py::value_error(name + "[" + std::to_string(k / 3) + ", " + std::to_string(k % 3) +
                            "] = " + std::to_string(data[k]) + " does not fit in 32 bits");
    }
    counts[k] = static_cast<std::int32_t>(data[k]);
  }
  return counts;
}

std::vector<std::int32_t> pointCounts(py::handle object, py::ssize_t n) {
  const std::string name = "point_counts";
  const py::array any = anyArray(object, name);
  const char kind = any.dtype().kind();
  if (kind != 'i' && kind != 'u') {
    throw py::value_error(name + " must hold integers, not " +
                          py::str(any.dtype()).cast<std::string>());
  }
  requireTwoDims(any, name, "(N, 3)");
  requireRows(any, name, n);
  if (any.shape(1) != 3) {
    throw py::value_error(name + " must have shape (N, 3), got " + shapeText(any));
  }
  if (kind == 'u') return checkedCounts<std::uint64_t>(any, name);
  return checkedCounts<std::int64_t>(any, name);
}

// The seeds of arrays already checked, except distances for finite values:
// false when a distance is not finite, and the set then is incomplete.
bool buildSeeds(const Reals& positions, const std::vector<Reals>& descriptors,
                const std::vector<std::int32_t>& counts, const Reals& distances, SeedSet& seeds) {
  const auto k = static_cast<std::size_t>(distances.shape(1));
  seeds.resize(static_cast<std::size_t>(positions.shape(0)));
  for (std::size_t i = 0; i < seeds.size(); ++i) {
    SEED& seed = seeds[i];
    std::copy_n(positions.data() + 3 * i, 3, seed.pos);
    for (std::size_t d = 0; d < 6; ++d) {
      const auto length = static_cast<std::size_t>(descriptors[d].shape(1));
      const double* row = descriptors[d].data() + i * length;
      seed.desc[d].assign(row, row + length);
    }
    std::copy_n(counts.data() + 3 * i, 3, seed.pts);
    seed.neibCount = static_cast<std::int32_t>(k);
    const double* row = distances.data() + i * k;
    seed.neibDist.assign(row, row + k);
    bool finite = true;
    for (const double v : seed.neibDist) finite = finite && std::isfinite(v);
    if (!finite) return false;
    NeibDis(seed);
  }
  return true;
}

PySeedSet fromArrays(py::handle positionsArg, py::handle descriptorsArg, py::handle pointCountsArg,
                     py::handle distancesArg) {
  const Reals positions = realArray(positionsArg, "positions", "(N, 3)");
  if (positions.shape(1) != 3) {
    throw py::value_error("positions must have shape (N, 3), got " + shapeText(positions));
  }
  const py::ssize_t n = positions.shape(0);

  if (!PySequence_Check(descriptorsArg.ptr()) || py::isinstance<py::str>(descriptorsArg) ||
      py::isinstance<py::bytes>(descriptorsArg)) {
    throw py::value_error("descriptors must be a sequence of six arrays");
  }
  const py::sequence descriptorSeq = py::reinterpret_borrow<py::sequence>(descriptorsArg);
  if (py::len(descriptorSeq) != 6) {
    throw py::value_error("descriptors must hold six arrays, got " +
                          std::to_string(py::len(descriptorSeq)));
  }
  std::vector<Reals> descriptors;
  for (std::size_t d = 0; d < 6; ++d) {
    const std::string name = "descriptors[" + std::to_string(d) + "]";
    descriptors.push_back(realArray(descriptorSeq[d], name, "(N, L)"));
    requireRows(descriptors.back(), name, n);
  }

  const std::vector<std::int32_t> counts = pointCounts(pointCountsArg, n);

  // Checked for finite values while the seeds are built: one pass over the largest array.
  const Reals distances = realArray(distancesArg, "distances", "(N, K)", false);
  requireRows(distances, "distances", n);
  const py::ssize_t k = distances.shape(1);
  if (k < n) {
    throw py::value_error("distances must have at least one column per seed (" + std::to_string(n) +
                          "), got " + std::to_string(k));
  }
  if (k > std::numeric_limits<std::int32_t>::max()) {
    throw py::value_error("distances has more columns than a 32-bit count holds");
  }

  PySeedSet set;
  bool finite = true;
  {
    py::gil_scoped_release release;
    finite = buildSeeds(positions, descriptors, counts, distances, set.seeds);
  }
  if (!finite) requireFinite(distances, "distances");
  return set;
}

// Writes the seeds to path; a failure raises seedmatch.SeedFileError naming it.
void writeSeeds(const PySeedSet& set, const py::object& path) {
  const py::module_ os = py::module_::import("os");
  if (!py::isinstance<py::str>(path) && !py::isinstance<py::bytes>(path) &&
      !py::isinstance(path, os.attr("PathLike"))) {
    throw py::type_error("path must be a str, bytes or os.PathLike, not " +
                         py::str(py::type::of(path).attr("__name__")).cast<std::string>());
  }
  const std::string name = os.attr("fsencode")(path).cast<std::string>();
  if (name.find('\0') != std::string::npos)
    throw py::value_error("path must not contain a NUL byte");
  std::optional<std::string> problem;
  {
    py::gil_scoped_release release;
    problem = writeSeed(name, set.seeds);
  }
  if (problem) {
    const py::object error = py::module_::import("seedmatch").attr("SeedFileError");
    PyErr_SetObject(error.ptr(), error(formatReadError(ReadError{name, 0, 0, *problem}),
                                       os.attr("fsdecode")(py::bytes(name)), py::none(), py::none())
                                     .ptr());
    throw py::error_already_set();
  }
}

// ---- reports ------------------------------------------------------------------

// What print writes to a FILE*, as a string.
template <class Print>
std::string printed(Print print) {
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* stream = open_memstream(&buffer, &size);
  if (stream == nullptr) throw std::bad_alloc();
  std::unique_ptr<char, decltype(&std::free)> owned(nullptr, &std::free);
  try {
    print(stream);
  } catch (...) {
    std::fclose(stream);
    owned.reset(buffer);
    throw;
  }
  const bool failed = std::fclose(stream) != 0;
  owned.reset(buffer);
  if (failed) throw std::bad_alloc();
  return std::string(buffer, size);
}

// The report functions refuse a table naming seeds the sets do not hold.
template <class Run>
auto refusingBadRows(Run run) {
  try {
    return run();
  } catch (const std::out_of_range& error) {
    throw py::value_error(std::string("matching does not fit these seed sets: ") + error.what());
  }
}

struct ReportRows {
  std::vector<ReportRow> rows;
};

// The report's per-row fields as read-only float64 columns viewing one copy of
// the rows; p and q become int64 for indexing.
py::dict rowColumns(std::vector<ReportRow> rows) {
  const auto count = static_cast<py::ssize_t>(rows.size());
  const py::object owner = py::cast(ReportRows{std::move(rows)});
  const std::vector<ReportRow>* owned = &owner.cast<const ReportRows&>().rows;
  py::dict columns;
  for (const auto& [name, member] :
       {std::pair{"p", &ReportRow::p}, std::pair{"q", &ReportRow::q}}) {
    py::array_t<std::int64_t> index(count);
    std::int64_t* out = index.mutable_data();
    for (const ReportRow& row : *owned) *out++ = row.*member;
    columns[name] = readOnly(index);
  }
  const std::pair<const char*, double ReportRow::*> fields[] = {
      {"stored_cost", &ReportRow::storedCost},
      {"seed_dist", &ReportRow::seedDist},
      {"pcal", &ReportRow::pcal},
      {"cost", &ReportRow::evalCost},
      {"d_desc0", &ReportRow::dDesc0},
      {"d_desc1", &ReportRow::dDesc1},
      {"d_desc2", &ReportRow::dDesc2},
      {"d_pts01", &ReportRow::dPts01},
      {"d_desc4", &ReportRow::dDesc4},
      {"d_pts2", &ReportRow::dPts2},
      {"pos_disp", &ReportRow::posDisp}};
  for (const auto& [name, member] : fields) {
    const double* first = owned->empty() ? nullptr : &(owned->front().*member);
    columns[name] = readOnly(
        py::array_t<double>({count}, {static_cast<py::ssize_t>(sizeof(ReportRow))}, first, owner));
  }
  return columns;
}

// Every field of the report at full precision, and the text printed from them.
py::dict evaluate(const PySeedSet& set1, const PySeedSet& set2, const PyMatching& matching,
                  double seedWeight, double histWeight) {
  MatchReport report;
  std::string text;
  {
    py::gil_scoped_release release;
    report = refusingBadRows([&] {
      return reportMatch(set1.seeds, set2.seeds, matching.table, seedWeight, histWeight,
                         SeedDistWeights{});
    });
    text = printed([&](std::FILE* out) { printReport(report, out); });
  }
  py::dict fields = rowColumns(std::move(report.rows));
  fields["rows"] = report.tableRows;
  const std::pair<const char*, double ReportSummary::*> summary[] = {
      {"sum_cost", &ReportSummary::sumCost},      {"avg_cost", &ReportSummary::avgCost},
      {"avg_rp", &ReportSummary::avgRP},          {"navg_rp", &ReportSummary::navgRP},
      {"avg_d_desc0", &ReportSummary::avgDDesc0}, {"avg_d_desc1", &ReportSummary::avgDDesc1},
      {"avg_d_desc2", &ReportSummary::avgDDesc2}, {"avg_d_pts01", &ReportSummary::avgDPts01},
      {"avg_d_desc4", &ReportSummary::avgDDesc4}, {"avg_d_pts2", &ReportSummary::avgDPts2}};
  for (const auto& [name, member] : summary) {
    fields[name] = report.summary ? py::object(py::float_((*report.summary).*member)) : py::none();
  }
  fields["text"] = text;
  return fields;
}

}  // namespace

PYBIND11_MODULE(_core, m) {
  m.doc() = "Native part of seedmatch; use the seedmatch package.";

  py::class_<PySeedSet>(m, "SeedSet", "Seeds in file order, with read-only array views.")
      .def_static("from_arrays", &fromArrays, py::arg("positions"), py::arg("descriptors"),
                  py::arg("point_counts"), py::arg("distances"), R"(
Build a seed set from arrays, each seed's histogram built as the reader builds it.

Parameters
----------
positions : (N, 3) array of reals
descriptors : sequence of six (N, L_d) arrays of reals; L_d may be 0
point_counts : (N, 3) array of integers within 32 bits
distances : (N, K) array of reals, K >= N; row i, column j is the distance
    from seed i to seed j of the same set

Raises ValueError naming the argument for shapes that disagree, fewer than N
distances, counts beyond 32 bits, and NaN or infinite values.
)")
      .def("write", &writeSeeds, py::arg("path"), R"(
Write the seeds as a seed file that reads back to the same set, bit for bit.

Each real is written in the shortest form that reads back to its bits; a
path ending in ".gz" is written as gzip (level 1). The file appears whole or
not at all: a failure leaves what was at path. Raises SeedFileError naming
the file when it cannot be written.
)")
      .def("__len__", [](const PySeedSet& s) { return s.seeds.size(); })
      .def("__repr__", &seedSetRepr)
      .def_property_readonly("path", &pathOf, "The file the seeds were read from, or None.")
      .def_property_readonly("positions", &positionsView)
      .def_property_readonly("point_counts", &pointCountsView)
      .def_property_readonly("descriptors", &descriptorsOf)
      .def_property_readonly("distances", &distancesOf)
      .def_property_readonly("histograms", &histogramsOf);

  // A read error comes back as (path, line, column, message) for the package to raise.
  m.def("read_seeds", [](const py::bytes& path) -> py::object {
    const std::string name = path;
    PySeedSet set;
    set.path = name;
    std::optional<ReadError> error;
    {
      py::gil_scoped_release release;
      error = readSeed(name, set.seeds);
    }
    if (error) {
      return py::make_tuple(py::bytes(error->path), error->line, error->column,
                            formatReadError(*error));
    }
    return py::cast(std::move(set));
  });

  py::class_<PyMatching>(m, "Matching")
      .def_property_readonly("table", &tableView)
      .def_property_readonly("pairs", &pairsOf)
      .def_property_readonly("passes", [](const PyMatching& m) { return m.passes; })
      .def("__repr__", &matchingRepr)
      .def("__len__", [](const PyMatching& m) { return m.table.size(); });

  // Ctrl-C stops it, and so does cancel.is_set() (a threading.Event) turning true.
  m.def(
      "match",
      [](const PySeedSet& set1, const PySeedSet& set2, double seedWeight, double histWeight,
         double rpdWeight, double costLimit, const py::object& cancel) {
        PyMatching result;
        result.weights = {seedWeight, histWeight, rpdWeight, costLimit};
        result.passes = seedmatch_python::runInterruptibly(
            [&](std::stop_token stop) {
              return nModifiedWeightedBipartiteMatching(
                         set1.seeds, set2.seeds, result.table, costLimit, seedWeight, histWeight,
                         rpdWeight, SeedDistWeights{}, AuctionOptions{nullptr, stop})
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
    result.weights = {seedWeight, histWeight, rpdWeight, costLimit};
    RandomMatching(set1.seeds, set2.seeds, result.table, costLimit, seedWeight, histWeight,
                   rpdWeight, SeedDistWeights{});
    return result;
  });

  py::class_<ReportRows>(m, "_ReportRows", "Holds the rows a report's columns view.");
  m.def("evaluate", &evaluate);

  m.def("system_error_text", &systemErrorText, py::arg("errno"),
        "The words the commands use for a system error number.");
  m.def(
      "atof", [](const py::bytes& text) { return std::atof(std::string(text).c_str()); },
      py::arg("text"), "The C library's atof, as the seedmatch commands read their numbers.");

  const auto seedsOf = [](py::handle set) -> const SeedSet& {
    return set.cast<const PySeedSet&>().seeds;
  };
  seedmatch_python::bindSweep(m, seedsOf);
  seedmatch_python::bindConsistency(
      m, seedsOf, [](py::handle set) -> std::shared_ptr<const SeedNeighbours> {
        auto& s = set.cast<PySeedSet&>();
        if (!s.neighbours) {
          std::shared_ptr<const SeedNeighbours> found;
          {
            py::gil_scoped_release release;
            found = std::make_shared<const SeedNeighbours>(seedNeighbours(s.seeds));
          }
          s.neighbours = std::move(found);
        }
        return s.neighbours;
      });

  m.def("pair_listing",
        [](const PySeedSet& set1, const PySeedSet& set2, const PyMatching& matching) {
          std::string text;
          {
            py::gil_scoped_release release;
            text = refusingBadRows([&] {
              return printed([&](std::FILE* out) {
                print_match_pairs(set1.seeds, set2.seeds, matching.table, 0.0, 0.0, 0.0, out);
              });
            });
          }
          return text;
        });
}
