// What the binding files of the native module share: the Python-side records
// of seed sets and matchings, and one registration function per file.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>  // in every binding file: casters must agree across them

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "seedmatch/matching/matching.h"
#include "seedmatch/report/consistency.h"
#include "seedmatch/seed/seed.h"

namespace seedmatch_python {

struct PySeedSet {
  seedmatch::SeedSet seeds;
  std::optional<std::string> path;  // the file read, as bytes
  // Built from the per-seed vectors on first use; every later view shares them.
  std::optional<pybind11::tuple> descriptors;
  std::optional<pybind11::array> distances;
  std::optional<pybind11::array> histograms;
  // Each seed's nearest seeds, for the estimate; found on first use.
  std::shared_ptr<const seedmatch::SeedNeighbours> neighbours;
  std::uint64_t fingerprint = 0;  // of the seeds, set when they are
};

// A hash of every field of every seed that the matchings read, reals by their
// bits: the same seeds, read again from their file or built again from their
// arrays, hash alike.
std::uint64_t fingerprintOf(const seedmatch::SeedSet& seeds);

struct PyMatching {
  seedmatch::MatchTable table;
  std::optional<std::int64_t> passes;  // none for the random baseline
  // seed_weight, hist_weight, rpd_weight and cost_limit, when known
  std::optional<seedmatch::Weights> weights;
  // The fingerprints of the two sets it was made from, and how many of their
  // seeds were left out as empty.
  std::array<std::uint64_t, 2> madeFrom{};
  std::array<std::int64_t, 2> emptySeeds{};
};

// Raises ValueError unless matching was made from set1 and set2, in that order.
void requireMadeFrom(const PyMatching& matching, const PySeedSet& set1, const PySeedSet& set2);

// array, made read-only: the views handed out never change what they show.
inline pybind11::array readOnly(pybind11::array array) {
  array.attr("setflags")(pybind11::arg("write") = false);
  return array;
}

void bindSeedSets(pybind11::module_& m);     // seed_sets.cpp
void bindMatchings(pybind11::module_& m);    // matchings.cpp
void bindReports(pybind11::module_& m);      // reports.cpp
void bindSweep(pybind11::module_& m);        // sweep.cpp
void bindConsistency(pybind11::module_& m);  // consistency.cpp

}  // namespace seedmatch_python
