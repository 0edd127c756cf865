// Reading the two files of a run at once, one on a second thread, or in turn
// when both name the same stream.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <exception>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

#include "input.h"
#include "reader.h"
#include "seedmatch/seed/seed.h"

namespace seedmatch {
namespace {

bool statusOf(const std::string& path, struct stat& status) {
  return path == kStandardInput ? ::fstat(STDIN_FILENO, &status) == 0
                                : ::stat(path.c_str(), &status) == 0;
}

// The same pipe, FIFO, socket or terminal named twice: it is one stream, and
// the first reading takes it whole.
bool sameStream(const std::string& path1, const std::string& path2) {
  struct stat a {
  }, b{};
  return statusOf(path1, a) && statusOf(path2, b) && a.st_dev == b.st_dev && a.st_ino == b.st_ino &&
         !S_ISREG(a.st_mode);
}

// A pipe whose write end wakes a reader waiting in poll().
class WakePipe {
 public:
  WakePipe() {
    if (::pipe2(fds_, O_CLOEXEC) != 0) fds_[0] = fds_[1] = -1;
  }
  WakePipe(const WakePipe&) = delete;
  WakePipe& operator=(const WakePipe&) = delete;
  ~WakePipe() {
    for (int fd : fds_) {
      if (fd >= 0) ::close(fd);
    }
  }
  int readEnd() const { return fds_[0]; }
  void wake() const {
    if (fds_[1] >= 0) {
      [[maybe_unused]] const ssize_t written = ::write(fds_[1], "x", 1);
    }
  }

 private:
  int fds_[2];
};

// File 1, then file 2; with same, file 2 reads on in file 1's open file.
std::optional<ReadError> readInTurn(const std::string& path1, const std::string& path2,
                                    SeedSet& seeds1, SeedSet& seeds2, bool same) {
  const std::size_t held1 = seeds1.size();
  Input input1;
  if (auto message = input1.open(path1)) return ReadError{nameOf(path1), 0, 0, std::move(*message)};
  if (auto error = readInput(input1, nameOf(path1), seeds1)) return error;
  std::optional<ReadError> error;
  try {
    Input input2;
    auto message = same ? input2.openSame(input1) : input2.open(path2);
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
  // A stream named twice is opened once, since a FIFO would wait for a
  // second writer: file 2 reads on from where file 1 stopped.
  const bool same = sameStream(path1, path2);
  if (same || &seeds1 == &seeds2) return readInTurn(path1, path2, seeds1, seeds2, same);

  // File 2 is read on a worker. When file 1 fails, its error is the one
  // reported, so the worker is told to stop rather than waited for.
  const std::size_t held1 = seeds1.size();
  const std::size_t held2 = seeds2.size();
  const WakePipe wake;
  if (wake.readEnd() < 0) return readInTurn(path1, path2, seeds1, seeds2, false);
  Cancellation cancel;
  cancel.wakeFd = wake.readEnd();
  std::optional<ReadError> second;
  std::exception_ptr secondThrew;
  std::thread worker;
  try {
    worker = std::thread([&] {
      try {
        second = readFile(path2, seeds2, &cancel);
      } catch (...) {
        secondThrew = std::current_exception();
      }
    });
  } catch (const std::system_error&) {
    return readInTurn(path1, path2, seeds1, seeds2, false);  // no thread to be had
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
