// The native half of the seedmatch Python package: seed sets, matchings,
// reports, the sweep and the estimate over the library, each bound in a file
// of its own.
#include <pybind11/pybind11.h>

#include <cstdlib>
#include <exception>
#include <new>
#include <string>

#include "bindings.h"
#include "seedmatch/seed/system_error.h"

namespace py = pybind11;

PYBIND11_MODULE(_core, m) {
  m.doc() = "Native part of seedmatch; use the seedmatch package.";
  seedmatch_python::bindSeedSets(m);
  seedmatch_python::bindMatchings(m);
  seedmatch_python::bindReports(m);
  seedmatch_python::bindSweep(m);
  seedmatch_python::bindConsistency(m);
  // In the commands' words rather than the C++ library's "std::bad_alloc".
  py::register_exception_translator([](std::exception_ptr thrown) {
    try {
      if (thrown) std::rethrow_exception(thrown);
    } catch (const std::bad_alloc&) {
      PyErr_SetString(PyExc_MemoryError, "out of memory");
    }
  });

  m.def("system_error_text", &seedmatch::systemErrorText, py::arg("errno"),
        "The words the commands use for a system error number.");
  m.def(
      "atof", [](const py::bytes& text) { return std::atof(std::string(text).c_str()); },
      py::arg("text"), "The C library's atof, as the seedmatch commands read their numbers.");
}
