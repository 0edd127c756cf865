// Seed sets in Python: read-only array views of the seeds, sets built from
// arrays, and the reader and writer. Arrays that already lie in one piece are
// handed out as views; the rest are assembled once per set and then shared.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <optional>
#include <stop_token>
#include <string>
#include <type_traits>
#include <vector>

#include "bindings.h"
#include "interruptible.h"
#include "seedmatch/seed/seed.h"

namespace py = pybind11;
using namespace seedmatch;

namespace seedmatch_python {
namespace {

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
    py::tuple all(kDescriptors);
    for (std::size_t d = 0; d < kDescriptors; ++d) {
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
  // Numbers of these kinds always convert; only memory can run out.
  Reals reals = Reals::ensure(any);
  if (!reals) throw std::bad_alloc();
  if (checkFinite) requireFinite(reals, name);
  return reals;
}

template <class T>
std::vector<std::int32_t> checkedCounts(const py::array& any, const std::string& name) {
  const auto values = py::array_t<T, py::array::c_style | py::array::forcecast>::ensure(any);
  if (!values) throw std::bad_alloc();  // integers always convert; only memory can run out
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
    for (std::size_t d = 0; d < kDescriptors; ++d) {
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
  if (py::len(descriptorSeq) != kDescriptors) {
    throw py::value_error("descriptors must hold six arrays, got " +
                          std::to_string(py::len(descriptorSeq)));
  }
  std::vector<Reals> descriptors;
  for (std::size_t d = 0; d < kDescriptors; ++d) {
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
    if (finite) set.fingerprint = fingerprintOf(set.seeds);
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

}  // namespace

std::uint64_t fingerprintOf(const SeedSet& seeds) {
  // Four lanes, so that the multiplications do not wait on one another.
  std::uint64_t lanes[4] = {seeds.size(), 1, 2, 3};
  std::size_t next = 0;
  const auto mix = [&](std::uint64_t word) {
    std::uint64_t& h = lanes[next++ & 3];
    h = (h ^ word) * 0x9e3779b97f4a7c15u;
    h ^= h >> 29;
  };
  const auto reals = [&](const double* values, std::size_t count) {
    mix(count);
    for (std::size_t k = 0; k < count; ++k) mix(std::bit_cast<std::uint64_t>(values[k]));
  };
  for (const SEED& seed : seeds) {
    reals(seed.pos, 3);
    for (const std::vector<double>& d : seed.desc) reals(d.data(), d.size());
    for (const std::int32_t count : seed.pts) mix(static_cast<std::uint32_t>(count));
    // Distances beyond the set's seeds, which no later stage reads, do not count.
    reals(seed.neibDist.data(), std::min(seed.neibDist.size(), seeds.size()));
  }
  std::uint64_t h = 0;
  for (const std::uint64_t lane : lanes) h = (h ^ lane) * 0xff51afd7ed558ccdu ^ (h >> 31);
  return h;
}

void bindSeedSets(py::module_& m) {
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
  // Ctrl-C stops it, whatever the file: a pipe that sends nothing, a FIFO without a writer.
  // So does cancel.is_set() (a threading.Event) turning true, for reads off the main thread.
  m.def(
      "read_seeds",
      [](const py::bytes& path, const py::object& cancel) -> py::object {
        const std::string name = path;
        PySeedSet set;
        set.path = name;
        const std::optional<ReadError> error = runInterruptibly(
            [&](std::stop_token stop) {
              auto problem = readSeed(name, set.seeds, stop);
              if (!problem) set.fingerprint = fingerprintOf(set.seeds);
              return problem;
            },
            [&] {
              if (!cancel.is_none() && cancel.attr("is_set")().cast<bool>()) {
                PyErr_SetNone(PyExc_KeyboardInterrupt);
                throw py::error_already_set();
              }
            });
        if (error) {
          return py::make_tuple(py::bytes(error->path), error->line, error->column,
                                formatReadError(*error));
        }
        return py::cast(std::move(set));
      },
      py::arg("path"), py::arg("cancel") = py::none());
}

}  // namespace seedmatch_python
