// Feeds gzip files to the seed file reader through a real file descriptor, so
// that the inflating path is the one under test. The first byte picks the shape:
//   '0'  the rest is the file, whatever it holds
//   '1'  a valid gzip header, then the rest as raw deflate data
//   '2'  the rest compressed as 1 to 4 concatenated members
//   '3'  the same members, then cut short, one byte changed or junk appended
// Nothing may crash, hang or allocate without bound. Whenever the inflated text
// is known, the file must read exactly as that text does in memory; a cut inside
// a member and appended junk must fail, with one line.
#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "same_seeds.h"
#include "seedmatch/seed/seed.h"

namespace {

using seedmatch::ReadError;
using seedmatch::SEED;
using seedmatch::SeedSet;

using fuzz::fail;
using fuzz::require;
using fuzz::sameSeed;

struct Outcome {
  std::optional<ReadError> error;
  SeedSet seeds;
};

bool sameOutcome(const Outcome& a, const Outcome& b) {
  if (a.error || b.error) {
    return a.error && b.error && a.error->line == b.error->line &&
           a.error->column == b.error->column && a.error->message == b.error->message;
  }
  return a.seeds.size() == b.seeds.size() &&
         std::equal(a.seeds.begin(), a.seeds.end(), b.seeds.begin(), sameSeed);
}

// The file is an anonymous memory file, opened again by its /proc name as any
// path is opened.
Outcome readAsFile(std::string_view bytes) {
  const int fd = memfd_create("gzip_fuzz", MFD_CLOEXEC);
  require(fd >= 0, "memfd_create failed");
  require(write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()),
          "write to the memory file failed");
  Outcome out;
  out.error = seedmatch::readSeed("/proc/self/fd/" + std::to_string(fd), out.seeds);
  close(fd);
  if (out.error) {
    require(out.seeds.empty(), "a failed read left seeds");
    require(!out.error->message.empty() && out.error->message.size() <= 400,
            "error message empty or longer than 400 bytes");
    const std::string line = seedmatch::formatReadError(*out.error);
    require(std::none_of(line.begin(), line.end(),
                         [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }),
            "the error holds a control character");
  }
  return out;
}

Outcome readAsText(std::string_view text) {
  Outcome out;
  out.error = seedmatch::readSeedText(text, "text", out.seeds);
  return out;
}

// One gzip member holding text, at the given level; a name in the header when asked.
std::string member(std::string_view text, int level, bool named) {
  z_stream z{};
  require(deflateInit2(&z, level, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK,
          "deflateInit2 failed");
  gz_header header{};
  char name[] = "seeds";
  header.name = reinterpret_cast<Bytef*>(name);
  if (named) deflateSetHeader(&z, &header);
  std::string out(deflateBound(&z, text.size()) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  require(deflate(&z, Z_FINISH) == Z_STREAM_END, "deflate did not finish");
  out.resize(out.size() - z.avail_out);
  deflateEnd(&z);
  return out;
}

struct Members {
  std::string bytes;
  std::vector<std::size_t> ends;      // where each member ends in bytes
  std::vector<std::size_t> textEnds;  // and in the text
};

// text in 1 to 4 members split evenly; control picks the count, level and names.
Members members(std::string_view text, std::uint8_t control) {
  const std::size_t count = 1 + (control & 3);
  const int level = (control >> 2) % 10;
  Members out;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t from = text.size() * i / count, to = text.size() * (i + 1) / count;
    out.bytes += member(text.substr(from, to - from), level, (control >> 6) & 1);
    out.ends.push_back(out.bytes.size());
    out.textEnds.push_back(to);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] & 3) {
    case 0: {
      const Outcome file = readAsFile(rest);
      if (!rest.starts_with("\x1f\x8b")) {
        require(sameOutcome(file, readAsText(rest)), "a plain file read unlike its text");
      }
      break;
    }
    case 1: {
      static constexpr char kHeader[] = "\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03";
      readAsFile(std::string(kHeader, sizeof kHeader - 1).append(rest));
      break;
    }
    case 2: {
      if (rest.empty()) return 0;
      const std::string_view text = rest.substr(1);
      require(sameOutcome(readAsFile(members(text, rest[0]).bytes), readAsText(text)),
              "a gzip file read unlike the text it holds");
      break;
    }
    case 3: {
      if (rest.size() < 4) return 0;
      const auto control = static_cast<std::uint8_t>(rest[0]);
      const std::size_t at =
          static_cast<std::uint8_t>(rest[1]) * 256u + static_cast<std::uint8_t>(rest[2]);
      const auto byte = static_cast<char>(rest[3]);
      const std::string_view text = rest.substr(4);
      Members file = members(text, control);
      const std::size_t place = at % file.bytes.size();
      switch (control >> 7 | (byte == 0 ? 2 : 0)) {
        case 0: {  // cut at place: fails unless the cut falls between members
          file.bytes.resize(place);
          const Outcome cut = readAsFile(file.bytes);
          const auto end = std::find(file.ends.begin(), file.ends.end(), place);
          if (place == 0) {
            require(sameOutcome(cut, readAsText("")), "an empty file read unlike no text");
          } else if (end == file.ends.end()) {
            require(cut.error.has_value(), "a member cut short was read");
          } else {
            const std::size_t textEnd =
                file.textEnds[static_cast<std::size_t>(end - file.ends.begin())];
            require(sameOutcome(cut, readAsText(text.substr(0, textEnd))),
                    "whole members read unlike their text");
          }
          break;
        }
        case 1: {  // one byte changed: an error, or the same seeds when the change
                   // fell where gzip keeps no check (time, flags, system)
          file.bytes[place] = static_cast<char>(file.bytes[place] ^ byte);
          const Outcome changed = readAsFile(file.bytes);
          require(changed.error || sameOutcome(changed, readAsText(text)),
                  "a changed byte gave other seeds");
          break;
        }
        default:  // junk too short to be a member
          file.bytes.append(1 + (control & 7), byte);
          require(readAsFile(file.bytes).error.has_value(), "junk after the last member was read");
          break;
      }
      break;
    }
  }
  return 0;
}
