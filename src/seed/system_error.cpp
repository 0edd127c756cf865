#include "seedmatch/seed/system_error.h"

#include <sys/mman.h>

#include <cerrno>
#include <cstring>
#include <exception>

namespace seedmatch {

std::string systemErrorText(int error) {
  switch (error) {
    case ENOENT: return "no such file";
    case EACCES: return "permission denied";
    case EISDIR: return "is a directory";
    case ENOTDIR: return "a leading part of the path is not a directory";
    default: break;
  }
  std::string text = std::strerror(error);
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z')
    text[0] = static_cast<char>(text[0] - 'A' + 'a');
  return text;
}

bool roomForThread() {
  // A cached stack needs no new memory; the thread's malloc arena and its
  // storage do. A megabyte leaves them a wide margin.
  constexpr std::size_t kMargin = std::size_t{1} << 20;
  void* probe = ::mmap(nullptr, kMargin, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (probe == MAP_FAILED) return false;
  ::munmap(probe, kMargin);
  return true;
}

void useThreadStorage() {
  // uncaught_exceptions() reads the storage; volatile keeps the call.
  [[maybe_unused]] const volatile int pending = std::uncaught_exceptions();
}

}  // namespace seedmatch
