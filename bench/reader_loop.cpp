// seedmatch-read-loop: the yardstick the reader is measured against. Maps
// each file named and converts every token with std::from_chars on one core,
// storing nothing; prints the token count and a checksum.
//
// usage: seedmatch-read-loop FILE...
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "from_chars_loop.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "seedmatch: usage: seedmatch-read-loop FILE...\n");
    return 2;
  }
  seedmatch::bench::LoopResult result;
  for (int i = 1; i < argc; ++i) {
    const int fd = ::open(argv[i], O_RDONLY | O_CLOEXEC);
    struct stat status {};
    if (fd < 0 || ::fstat(fd, &status) != 0) {
      std::fprintf(stderr, "seedmatch:%s: cannot open\n", argv[i]);
      return 2;
    }
    const auto size = static_cast<std::size_t>(status.st_size);
    void* map = size == 0 ? nullptr : ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    if (map == MAP_FAILED) {
      std::fprintf(stderr, "seedmatch:%s: cannot map\n", argv[i]);
      return 2;
    }
    const char* p = static_cast<const char*>(map);
    seedmatch::bench::fromCharsLoop(p, p + size, result);
    if (!result.converted) {
      std::fprintf(stderr, "seedmatch:%s: cannot convert a token\n", argv[i]);
      return 2;
    }
    if (map != nullptr) ::munmap(map, size);
  }
  std::printf("%lld tokens, checksum %.17g\n", static_cast<long long>(result.tokens), result.sum);
  return 0;
}
