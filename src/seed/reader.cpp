// The seed file reader: the header and the blocks of seeds, read over the
// tokenizer, on two threads for a large regular file.
#include "reader.h"

#include <sched.h>
#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <exception>
#include <memory>
#include <stop_token>
#include <system_error>
#include <thread>
#include <vector>

#include "layout.h"
#include "memory_limit.h"
#include "scanner.h"
#include "seedmatch/seed/system_error.h"

namespace seedmatch {
namespace {

// Bytes read from a file at a time. A token must fit in it whole with the
// byte that ends it, so a file's tokens are shorter than this.
constexpr std::size_t kBufferSize = std::size_t{1} << 20;

// Fresh memory costs a fault per page on first write. The pages of storage
// about to be filled are mapped in one call instead, where the system allows it.
void prefault(const std::vector<double>& values) {
#if defined(MADV_POPULATE_WRITE)
  constexpr std::uintptr_t kPage = 4096;
  const auto first = (reinterpret_cast<std::uintptr_t>(values.data()) + kPage - 1) & ~(kPage - 1);
  const auto last =
      reinterpret_cast<std::uintptr_t>(values.data() + values.capacity()) & ~(kPage - 1);
  if (last > first + kPage)
    ::madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
#else
  static_cast<void>(values);
#endif
}

struct Header {
  std::int32_t count = 0;
  std::array<std::int32_t, kDescriptors> descLen{};
  bool operator==(const Header&) const = default;
};

bool readHeader(Scanner& in, Header& header) {
  std::int32_t& count = header.count;
  if (!in.integer(count)) return in.explain({Slot::seedCount});
  // The distances alone take 8 N^2 bytes. Checked from the header, so that a
  // pipe or gzip file that could never fit fails at once.
  const double needed = 8.0 * count * count;
  if (count > 0 && needed > 64e6 && needed > static_cast<double>(memoryAvailable())) {
    char size[64];
    const bool gigabytes = needed >= 1e9;
    std::snprintf(size, sizeof size, gigabytes ? "%.1f GB" : "%.0f MB",
                  needed / (gigabytes ? 1e9 : 1e6));
    return in.failAtToken("the distances of " + std::to_string(count) + " seeds need " + size +
                          ", more than this process can have");
  }
  for (std::int32_t d = 0; d < static_cast<std::int32_t>(kDescriptors); ++d) {
    std::int32_t& length = header.descLen[static_cast<std::size_t>(d)];
    if (!in.integer(length)) return in.explain({Slot::descLength, 0, d});
    if (length < 0) {
      return in.failAtToken("descriptor length " + std::to_string(d) +
                            " is negative: " + std::to_string(length));
    }
  }
  return true;
}

// Storage is reserved for at most kTrusted values, or as many as a complete
// earlier seed held (longest), so a count larger than the file fails at its
// end instead of in the allocator, while a real file's vectors are allocated
// once, at their size.
constexpr std::int32_t kTrusted = 1 << 12;

// Reads block i straight into seed.
bool readBlock(Scanner& in, const Header& header, std::int32_t i, SEED& seed,
               std::int32_t& longest) {
  const auto reserve = [&](std::vector<double>& values, std::int32_t claimed) {
    values.reserve(static_cast<std::size_t>(std::min(claimed, longest)));
    prefault(values);
  };
  const auto readReals = [&](std::vector<double>& values, std::int32_t count, Field field) {
    reserve(values, count);
    double chunk[512];
    for (std::int32_t j = 0; j < count;) {
      const std::int32_t wanted = std::min<std::int32_t>(count - j, std::size(chunk));
      const std::int32_t converted = in.reals(chunk, wanted);
      values.insert(values.end(), chunk, chunk + converted);
      j += converted;
      if (converted < wanted) {
        field.entry = j;
        return in.explain(field);
      }
    }
    return true;
  };
  std::int32_t discarded = 0;
  for (std::int32_t k = 0; k < kPositionValues; ++k) {
    if (!in.real(seed.pos[k])) return in.explain({Slot::position, i, k});
  }
  for (std::int32_t d = 0; d < static_cast<std::int32_t>(kDescriptors); ++d) {
    for (std::int32_t t = 0; t < kLeadingIntegers; ++t) {
      if (!in.integer(discarded)) return in.explain({Slot::leadingInteger, i, d, t});
    }
    if (!readReals(seed.desc[static_cast<std::size_t>(d)],
                   header.descLen[static_cast<std::size_t>(d)], {Slot::descValue, i, d})) {
      return false;
    }
  }
  for (std::int32_t k = 0; k < kPointCounts; ++k) {
    if (!in.integer(seed.pts[k])) return in.explain({Slot::pointCount, i, k});
  }
  if (!in.integer(seed.neibCount)) return in.explain({Slot::neibCount, i});
  if (seed.neibCount < 0) {
    return in.failAtToken("neibCount of seed " + std::to_string(i) +
                          " is negative: " + std::to_string(seed.neibCount));
  }
  // Later stages look up neibDist by seed index; a shorter list would be read past its end.
  if (seed.neibCount < header.count) {
    return in.failAtToken("neibCount of seed " + std::to_string(i) + " is " +
                          std::to_string(seed.neibCount) + ", fewer than the " +
                          std::to_string(header.count) + " seeds of the file");
  }
  if (!readReals(seed.neibDist, seed.neibCount, {Slot::distance, i})) return false;
  longest = std::max(longest, seed.neibCount);
  NeibDis(seed);
  return true;
}

// Passes over the first count blocks without converting them. False where
// the text does not hold them as readBlock would take them; reading those
// blocks then finds out why.
bool skipBlocks(Scanner& in, const Header& header, std::int32_t count) {
  std::int64_t ahead = kFixedNumbers;
  for (const std::int32_t length : header.descLen) ahead += length;
  for (std::int32_t i = 0; i < count; ++i) {
    std::int32_t neibCount = 0;
    if (!in.skip(ahead) || !in.integer(neibCount) || neibCount < header.count ||
        !in.skip(neibCount))
      return false;
  }
  return true;
}

// The cores this thread may run on.
int coresAvailable() {
  cpu_set_t cores;
  return ::sched_getaffinity(0, sizeof cores, &cores) == 0 ? CPU_COUNT(&cores) : 1;
}

// A regular file of at least this many seeds is read by two threads.
constexpr std::int32_t kSplitFrom = 1000;

// What the second thread of a split reading found.
struct SecondPart {
  std::atomic<bool> stop{false};  // set by the first thread when it has failed
  bool reached = false;           // it passed over the first part's blocks as readBlock takes them
  bool complete = false;
  ReadError error;
  std::exception_ptr thrown;
};

// The blocks from `from` on, read into seeds over a second opening of path.
void readSecondPart(const std::string& path, const Header& header, std::int32_t from, SEED* seeds,
                    SecondPart& part) {
  try {
    Input input;
    if (input.open(path)) return;
    const auto buffer = std::make_unique_for_overwrite<char[]>(kBufferSize);
    Scanner in(input, buffer.get(), kBufferSize);
    Header again;
    if (!readHeader(in, again) || !(again == header) || !skipBlocks(in, header, from)) return;
    part.reached = true;
    std::int32_t longest = kTrusted;
    for (std::int32_t i = from; i < header.count; ++i) {
      if (part.stop.load(std::memory_order_relaxed)) return;
      if (!readBlock(in, header, i, seeds[i], longest)) {
        part.error = std::move(in.error());
        return;
      }
    }
    part.complete = true;
  } catch (...) {
    part.thrown = std::current_exception();
  }
}

// Reads the header and the blocks into seeds. With splitPath, a regular
// file of many seeds is read by two threads: this one converts the first
// blocks while another opens the file again, passes over them and converts
// the rest. An error in the first part is found before the second part's is
// looked at, so the first error of the file is the one reported.
bool readBlocks(Scanner& in, SeedSet& seeds, const std::string* splitPath) {
  Header header;
  if (!readHeader(in, header)) return false;
  std::int32_t longest = kTrusted;
  std::int32_t i = 0;
  if (splitPath != nullptr && header.count >= kSplitFrom && in.fromRegularFile() &&
      coresAvailable() > 1) {
    const std::size_t held = seeds.size();
    seeds.resize(held + static_cast<std::size_t>(header.count));
    SEED* const base = seeds.data() + held;
    // The second thread also passes over the first part's text, so it takes less.
    const auto from = static_cast<std::int32_t>(std::int64_t{header.count} * 53 / 100);
    SecondPart second;
    std::thread worker;
    try {
      worker = startThread<std::thread>(
          [&, from, base] { readSecondPart(*splitPath, header, from, base, second); });
    } catch (const std::system_error&) {
      seeds.resize(held);  // no thread to be had: read on alone
    }
    if (worker.joinable()) {
      bool read = true;
      try {
        for (; read && i < from; ++i) read = readBlock(in, header, i, base[i], longest);
      } catch (...) {
        second.stop.store(true, std::memory_order_relaxed);
        worker.join();
        throw;
      }
      if (!read) second.stop.store(true, std::memory_order_relaxed);
      worker.join();
      if (!read) return false;
      if (second.thrown) std::rethrow_exception(second.thrown);
      if (second.reached) {
        if (second.complete) return true;
        in.error() = std::move(second.error);
        return false;
      }
      seeds.resize(held + static_cast<std::size_t>(from));  // read on alone
    }
  }
  for (; i < header.count; ++i) {
    if (!readBlock(in, header, i, seeds.emplace_back(), longest)) return false;
  }
  return true;
}

// Runs readBlocks and leaves seeds as they were on entry when it fails, or throws.
std::optional<ReadError> load(Scanner& in, const std::string& name, SeedSet& seeds,
                              const std::string* splitPath = nullptr) {
  const std::size_t held = seeds.size();
  bool complete = false;
  try {
    complete = readBlocks(in, seeds, splitPath);
  } catch (...) {
    dropFrom(seeds, held);
    throw;
  }
  if (complete) return std::nullopt;
  dropFrom(seeds, held);
  ReadError error = std::move(in.error());
  error.path = name;
  return error;
}

}  // namespace

void dropFrom(SeedSet& seeds, std::size_t held) {
  seeds.erase(seeds.begin() + static_cast<std::ptrdiff_t>(held), seeds.end());
}

std::optional<ReadError> readInput(Input& input, const std::string& name, SeedSet& seeds,
                                   const std::string* splitPath) {
  const auto buffer = std::make_unique_for_overwrite<char[]>(kBufferSize);
  Scanner in(input, buffer.get(), kBufferSize);
  const std::size_t held = seeds.size();
  auto error = load(in, name, seeds, splitPath);
  // The rest of a gzip file is inflated too, so that damage after the last
  // seed is not passed over.
  if (!error && !input.finish(buffer.get(), kBufferSize)) {
    dropFrom(seeds, held);
    return ReadError{name, 0, 0, input.message()};
  }
  return error;
}

std::string nameOf(const std::string& path) {
  return path == kStandardInput ? "standard input" : path;
}

std::optional<ReadError> readFile(const std::string& path, SeedSet& seeds,
                                  const Cancellation* cancel, bool split) {
  Input input;
  if (auto message = input.open(path, cancel))
    return ReadError{nameOf(path), 0, 0, std::move(*message)};
  return readInput(input, nameOf(path), seeds, split && path != kStandardInput ? &path : nullptr);
}

std::optional<ReadError> readSeedText(std::string_view text, const std::string& name,
                                      SeedSet& seeds) {
  Scanner in(text);
  return load(in, name, seeds);
}

std::optional<ReadError> readSeed(const std::string& path, SeedSet& seeds) {
  return readFile(path, seeds, nullptr, true);
}

std::optional<ReadError> readSeed(const std::string& path, SeedSet& seeds, std::stop_token stop) {
  const WakePipe wake;
  Cancellation cancel;
  cancel.wakeFd = wake.readEnd();
  const std::stop_callback onStop(stop, [&] {
    cancel.requested.store(true, std::memory_order_relaxed);
    wake.wake();
  });
  return readFile(path, seeds, &cancel, true);
}

}  // namespace seedmatch
