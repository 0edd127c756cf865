// Long native work that Ctrl-C can stop. Python runs signal handlers only on
// the main thread and only while it holds the GIL, so the work runs on a
// thread of its own while the caller waits in short slices, taking the GIL
// between them to let handlers run.
#pragma once

#include <pybind11/pybind11.h>

#include <chrono>
#include <exception>
#include <future>
#include <stop_token>
#include <system_error>
#include <type_traits>
#include <utility>

#include "seedmatch/seed/system_error.h"

namespace seedmatch_python {

inline constexpr std::chrono::milliseconds kWaitSlice{50};

// Runs work(stop_token) on its own thread and returns its result. Between
// slices, with the GIL held, checks for signals and calls everySlice(), which
// may throw. On a pending signal or a throw, requests the stop, waits for the
// work to end, and raises the Python error (KeyboardInterrupt for Ctrl-C).
// Where no thread can be started (a memory limit, say), runs work on the
// calling thread, with the GIL released and no stop.
template <class Work, class EverySlice>
auto runInterruptibly(Work work, EverySlice everySlice) {
  namespace py = pybind11;
  // The caller's thread too may be one whose exception storage is not made yet
  // (a thread of Python's), and a failure in the work is rethrown on it.
  seedmatch::useThreadStorage();
  std::stop_source stop;
  std::future<std::invoke_result_t<Work, std::stop_token>> task;
  try {
    if (!seedmatch::roomForThread())
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    task = std::async(
        std::launch::async,
        [&work](std::stop_token token) {
          seedmatch::useThreadStorage();  // see roomForThread
          return work(token);
        },
        stop.get_token());
  } catch (const std::system_error&) {
    py::gil_scoped_release release;
    return work(stop.get_token());
  }
  try {
    for (;;) {
      std::future_status status;
      {
        py::gil_scoped_release release;
        status = task.wait_for(kWaitSlice);
      }
      if (status == std::future_status::ready) break;
      if (PyErr_CheckSignals() != 0) throw py::error_already_set();
      everySlice();
    }
  } catch (...) {
    stop.request_stop();
    py::gil_scoped_release release;
    task.wait();
    throw;  // leaving the scope takes the GIL back first
  }
  return task.get();
}

template <class Work>
auto runInterruptibly(Work work) {
  return runInterruptibly(std::move(work), [] {});
}

}  // namespace seedmatch_python
