// The sweep of weightings, registered on the module by its init.
#pragma once

#include <pybind11/pybind11.h>

#include "seedmatch/seed/seed.h"

namespace seedmatch_python {

// The seeds of a SeedSet object; the sweep reads them without copying.
using SeedsOf = const seedmatch::SeedSet& (*)(pybind11::handle);

void bindSweep(pybind11::module_& m, SeedsOf seedsOf);

}  // namespace seedmatch_python
