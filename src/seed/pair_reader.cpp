// Reading the two files of a run at once, one on a second thread, or in turn
// when both name the same stream.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <exception>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

#include "input.h"
#include "reader.h"
#include "seedmatch/seed/seed.h"
#include "seedmatch/seed/system_error.h"

namespace seedmatch {
namespace {

bool statusOf(const std::string& path, struct stat& status) {
  return path == kStandardInput ? ::fstat(STDIN_FILENO, &status) == 0
                                : ::stat(path.c_str(), &status) == 0;
}

// The same pipe, FIFO, socket or terminal named twice: it is one stream, and
// either reading would take some of the other's text.
bool sameStream(const std::string& path1, const std::string& path2) {
  struct stat a {
  }, b{};
  return statusOf(path1, a) && statusOf(path2, b) && a.st_dev == b.st_dev && a.st_ino == b.st_ino &&
         !S_ISREG(a.st_mode);
}

// File 1, then file 2.
std::optional<ReadError> readInTurn(const std::string& path1, const std::string& path2,
                                    SeedSet& seeds1, SeedSet& seeds2) {
  const std::size_t held1 = seeds1.size();
  Input input1;
  if (auto message = input1.open(path1)) return ReadError{nameOf(path1), 0, 0, std::move(*message)};
  if (auto error = readInput(input1, nameOf(path1), seeds1)) return error;
  std::optional<ReadError> error;
  try {
    Input input2;
    auto message = input2.open(path2);
    error = message ? ReadError{nameOf(path2), 0, 0, std::move(*message)}
                    : readInput(input2, nameOf(path2), seeds2);
  } catch (...) {
    dropFrom(seeds1, held1);
    throw;
  }
  if (error) dropFrom(seeds1, held1);
  return error;
}

}  // namespace

std::optional<ReadError> readSeedPair(const std::string& path1, const std::string& path2,
                                      SeedSet& seeds1, SeedSet& seeds2) {
  // Checked before anything is opened, since an opened file could take the
  // closed descriptor 0 and be read again as "-".
  for (const std::string* path : {&path1, &path2}) {
    if (*path == kStandardInput && ::fcntl(STDIN_FILENO, F_GETFD) < 0) {
      return ReadError{nameOf(*path), 0, 0, "cannot open: " + systemErrorText(EBADF)};
    }
  }
  if (sameStream(path1, path2)) {
    return ReadError{nameOf(path2), 0, 0,
                     "is the same stream as " + nameOf(path1) +
                         ", which can stand for only one of the two seed files"};
  }
  if (&seeds1 == &seeds2) return readInTurn(path1, path2, seeds1, seeds2);

  // File 2 is read on a worker. When file 1 fails, its error is the one
  // reported, so the worker is told to stop rather than waited for.
  const std::size_t held1 = seeds1.size();
  const std::size_t held2 = seeds2.size();
  const WakePipe wake;
  if (wake.readEnd() < 0) return readInTurn(path1, path2, seeds1, seeds2);
  Cancellation cancel;
  cancel.wakeFd = wake.readEnd();
  std::optional<ReadError> second;
  std::exception_ptr secondThrew;
  std::thread worker;
  try {
    worker = startThread<std::thread>([&] {
      try {
        second = readFile(path2, seeds2, &cancel);
      } catch (...) {
        secondThrew = std::current_exception();
      }
    });
  } catch (const std::system_error&) {
    return readInTurn(path1, path2, seeds1, seeds2);  // no thread to be had
  }
  std::optional<ReadError> first;
  std::exception_ptr firstThrew;
  try {
    first = readFile(path1, seeds1, nullptr);
  } catch (...) {
    firstThrew = std::current_exception();
  }
  if (first || firstThrew) {
    cancel.requested.store(true, std::memory_order_relaxed);
    wake.wake();
  }
  worker.join();

  if (first || firstThrew) {
    if (!second && !secondThrew) dropFrom(seeds2, held2);
    if (firstThrew) std::rethrow_exception(firstThrew);
    return first;
  }
  if (second || secondThrew) dropFrom(seeds1, held1);
  if (secondThrew) std::rethrow_exception(secondThrew);
  return second;
}

}  // namespace seedmatch
