// seedmatch-read: loads two seed files with the seedmatch reader, as a run
// loads them, and does nothing else: the baseline a full run is timed against. Errors are
// reported as seedmatch reports them; exit status 0 when both files load.
#include <cstdio>
#include <new>

#include "seedmatch/seed/seed.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr,
                 "seedmatch: expected 2 arguments, got %d; usage: seedmatch-read FILE1 FILE2\n",
                 argc < 1 ? 0 : argc - 1);
    return 2;
  }
  try {
    seedmatch::SeedSet set1;
    seedmatch::SeedSet set2;
    if (const auto error = seedmatch::readSeedPair(argv[1], argv[2], set1, set2)) {
      std::fprintf(stderr, "%s\n", seedmatch::formatReadError(*error).c_str());
      return 2;
    }
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "seedmatch: out of memory\n");
    return 2;
  }
  return 0;
}
