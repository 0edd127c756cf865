// Feeds arbitrary bytes to the seed file reader. Whatever arrives, the reader
// must not crash, leak or hang; what it accepts must hold what its callers rely
// on, and what it rejects must leave the set as it was and be told in one line.
// What it accepts, written out again, reads back to the same seeds.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "same_seeds.h"
#include "seedmatch/seed/seed.h"

namespace {

using seedmatch::SEED;
using seedmatch::SeedSet;

const std::string kName = "fuzz.seeds";

using fuzz::fail;
using fuzz::require;
using fuzz::sameBits;
using fuzz::sameSeed;

// A seed already in the set before the call: the reader must append after it
// and never touch it. Its shape matches no file, so a mix-up shows.
SEED heldSeed() {
  SEED seed{};
  seed.pos[0] = -7.5;
  seed.pos[1] = 0.0;
  seed.pos[2] = 1e300;
  seed.desc[0] = {1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0};
  seed.desc[4] = {-0.0};
  seed.pts[0] = 3;
  seed.pts[1] = -4;
  seed.pts[2] = 2147483647;
  seed.neibCount = 3;
  seed.neibDist = {0.5, 41.0, 2.25};
  seedmatch::NeibDis(seed);
  return seed;
}

// Line L of text, lines ending at '\n'; empty past the last line.
std::string_view lineOf(std::string_view text, std::int64_t line) {
  for (std::int64_t i = 1; i < line; ++i) {
    const auto end = text.find('\n');
    if (end == std::string_view::npos) return {};
    text.remove_prefix(end + 1);
  }
  return text.substr(0, text.find('\n'));
}

void checkError(const seedmatch::ReadError& error, std::string_view text) {
  require(error.path == kName, "the error names another file");
  require(!error.message.empty(), "the error has no message");
  // One short line of plain text: no bytes of the file that could break the
  // line or upset a terminal, and no token quoted at full length.
  const std::string line = seedmatch::formatReadError(error);
  require(std::none_of(line.begin(), line.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }),
          "the error holds a control character");
  require(error.message.size() <= 400, "the error message is longer than 400 bytes");
  // A position points into the text, or just past its end.
  require(error.line >= 0 && error.column >= 0, "negative error position");
  require((error.line == 0) == (error.column == 0), "half an error position");
  if (error.line > 0) {
    const auto lines = std::count(text.begin(), text.end(), '\n') + 1;
    require(error.line <= lines, "error line past the end of the text");
    require(error.column <= static_cast<std::int64_t>(lineOf(text, error.line).size()) + 1,
            "error column past the end of its line");
  }
}

void checkSeeds(std::span<const SEED> seeds, std::size_t textSize) {
  const auto count = static_cast<std::int64_t>(seeds.size());
  std::size_t values = 0;
  for (const SEED& seed : seeds) {
    require(seed.neibCount >= count, "neibCount below the number of seeds");
    require(seed.neibDist.size() == static_cast<std::size_t>(seed.neibCount),
            "neibDist does not hold neibCount entries");
    require(seed.neibHist.size() == static_cast<std::size_t>(seedmatch::kHistBins),
            "neibHist does not hold 40 bins");
    SEED rebuilt = seed;
    seedmatch::NeibDis(rebuilt);
    require(sameBits(rebuilt.neibHist, seed.neibHist), "neibHist not built from neibDist");
    for (std::size_t d = 0; d < seed.desc.size(); ++d) {
      require(seed.desc[d].size() == seeds.front().desc[d].size(),
              "descriptor lengths differ within one file");
      values += seed.desc[d].size();
    }
    values += seed.neibDist.size();
  }
  // Every value is a token of its own, and tokens are separated: memory held
  // grows with the text, not with the counts it claims.
  require(values <= textSize / 2 + 1, "more values than the text has tokens");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const SEED held = heldSeed();
  SeedSet seeds{held};
  const auto error = seedmatch::readSeedText(text, kName, seeds);
  require(!seeds.empty() && sameSeed(seeds.front(), held), "a seed held on entry changed");
  if (error) {
    require(seeds.size() == 1, "a failed read changed the set");
    checkError(*error, text);
    return 0;
  }
  const std::span<const SEED> added = std::span<const SEED>(seeds).subspan(1);
  checkSeeds(added, size);

  // The seeds read do not depend on what the set held before.
  SeedSet fresh;
  require(!seedmatch::readSeedText(text, kName, fresh), "a second read of the same text failed");
  require(fresh.size() == added.size() &&
              std::equal(fresh.begin(), fresh.end(), added.begin(), sameSeed),
          "the same text read into an empty set gave other seeds");

  // Written out, the seeds read back as they are, bit for bit.
  SeedSet again;
  require(!seedmatch::readSeedText(seedmatch::writeSeedText(fresh), kName, again),
          "the written seeds do not read back");
  require(again.size() == fresh.size() &&
              std::equal(again.begin(), again.end(), fresh.begin(), sameSeed),
          "the written seeds read back to other seeds");
  return 0;
}
