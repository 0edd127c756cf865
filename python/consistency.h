// The label-free estimate, registered on the module by its init.
#pragma once

#include <pybind11/pybind11.h>

#include <memory>

#include "report/consistency.h"
#include "sweep.h"

namespace seedmatch_python {

// A SeedSet object's neighbours, found on first use and kept with it.
using NeighboursOf = std::shared_ptr<const seedmatch::SeedNeighbours> (*)(pybind11::handle);

void bindConsistency(pybind11::module_& m, SeedsOf seedsOf, NeighboursOf neighboursOf);

}  // namespace seedmatch_python
