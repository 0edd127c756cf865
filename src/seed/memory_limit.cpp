#include "memory_limit.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <limits>
#include <string>

namespace seedmatch {
namespace {

constexpr std::uint64_t kUnlimited = std::numeric_limits<std::uint64_t>::max();

// The number a cgroup file holds; "max" and anything unreadable are no limit.
std::uint64_t limitIn(const std::string& path) {
  std::string text;
  if (!(std::ifstream(path) >> text)) return kUnlimited;
  std::uint64_t value = kUnlimited;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc{} && end == text.data() + text.size() ? value : kUnlimited;
}

// The least limit of the cgroup at path under root and of its ancestors.
std::uint64_t cgroupLimit(const std::string& root, std::string path, const char* file) {
  std::uint64_t least = kUnlimited;
  for (;;) {
    least = std::min(least, limitIn(root + path + "/" + file));
    if (path.empty() || path == "/") return least;
    path.erase(path.rfind('/'));
  }
}

}  // namespace

std::uint64_t memoryAvailable() {
  std::uint64_t least = kUnlimited;
  const long pages = ::sysconf(_SC_PHYS_PAGES), pageSize = ::sysconf(_SC_PAGESIZE);
  if (pages > 0 && pageSize > 0) {
    least = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
  }
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    least = std::min<std::uint64_t>(least, limit.rlim_cur);
  }
  // Lines of /proc/self/cgroup: "0::PATH" for v2, "ID:CONTROLLERS:PATH" for v1.
  std::ifstream groups("/proc/self/cgroup");
  for (std::string line; std::getline(groups, line);) {
    const auto first = line.find(':'), second = line.find(':', first + 1);
    if (first == std::string::npos || second == std::string::npos) continue;
    const std::string controllers = line.substr(first + 1, second - first - 1);
    const std::string path = line.substr(second + 1);
    if (controllers.empty()) {  // v2 alone, or beside v1 under "unified"
      least = std::min({least, cgroupLimit("/sys/fs/cgroup", path, "memory.max"),
                        cgroupLimit("/sys/fs/cgroup/unified", path, "memory.max")});
    } else if (("," + controllers + ",").find(",memory,") != std::string::npos) {
      least = std::min(least, cgroupLimit("/sys/fs/cgroup/memory", path, "memory.limit_in_bytes"));
    }
  }
  return least;
}

}  // namespace seedmatch
