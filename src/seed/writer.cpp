// Seed files written so that they read back to the same seeds, bit for bit.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <string_view>

#include "input.h"
#include "layout.h"
#include "seedmatch/seed/seed.h"
#include "seedmatch/seed/system_error.h"

namespace seedmatch {
namespace {

constexpr const char* kStandardOutput = kStandardInput;  // "-" names either stream
constexpr std::size_t kChunk = std::size_t{1} << 20;
constexpr int kGzipLevel = 1;  // most of level 6's saving on seed text, at a seventh of its time
constexpr int kGzipWindow = 16 + MAX_WBITS;

// Where the text goes: a string, or a file descriptor, plain or through deflate.
class Sink {
 public:
  explicit Sink(std::string* text) : text_(text) {}
  Sink(int fd, bool gzip) : fd_(fd), gzip_(gzip) {
    if (gzip_) {
      if (deflateInit2(&stream_, kGzipLevel, Z_DEFLATED, kGzipWindow, 8, Z_DEFAULT_STRATEGY) !=
          Z_OK)
        throw std::bad_alloc();
      compressed_ = std::make_unique_for_overwrite<unsigned char[]>(kChunk);
    }
  }
  Sink(const Sink&) = delete;
  Sink& operator=(const Sink&) = delete;
  ~Sink() {
    if (gzip_) deflateEnd(&stream_);
  }

  // The text so far; errno tells why when it could not be written.
  bool put(const char* data, std::size_t size) {
    return gzip_ ? deflated(data, size, Z_NO_FLUSH) : raw(data, size);
  }
  bool finish() { return !gzip_ || deflated(nullptr, 0, Z_FINISH); }

 private:
  bool raw(const char* data, std::size_t size) {
    if (text_ != nullptr) {
      text_->append(data, size);
      return true;
    }
    while (size > 0) {
      const ssize_t count = ::write(fd_, data, size);
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) return false;
      data += count;
      size -= static_cast<std::size_t>(count);
    }
    return true;
  }

  bool deflated(const char* data, std::size_t size, int flush) {
    stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    stream_.avail_in = static_cast<uInt>(size);
    int status = Z_OK;
    do {
      stream_.next_out = compressed_.get();
      stream_.avail_out = static_cast<uInt>(kChunk);
      status = deflate(&stream_, flush);
      if (status == Z_STREAM_ERROR) throw std::bad_alloc();
      const std::size_t produced = kChunk - stream_.avail_out;
      if (!raw(reinterpret_cast<const char*>(compressed_.get()), produced)) return false;
    } while (stream_.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
    return true;
  }

  std::string* text_ = nullptr;
  int fd_ = -1;
  bool gzip_ = false;
  z_stream stream_{};
  std::unique_ptr<unsigned char[]> compressed_;
};

// Formats tokens into a chunk and hands full chunks to the sink.
class Writer {
 public:
  explicit Writer(Sink& sink)
      : sink_(sink), buffer_(std::make_unique_for_overwrite<char[]>(kChunk)) {}

  template <class Number>
  bool number(Number value, char after) {
    // The longest double in its shortest form takes 24 bytes; an int32, 11.
    if (kChunk - used_ < 32 && !flush()) return false;
    char* at = buffer_.get() + used_;
    at = std::to_chars(at, buffer_.get() + kChunk, value).ptr;
    *at++ = after;
    used_ = static_cast<std::size_t>(at - buffer_.get());
    return true;
  }

  bool flush() {
    const bool done = sink_.put(buffer_.get(), used_);
    used_ = 0;
    return done;
  }

 private:
  Sink& sink_;
  std::unique_ptr<char[]> buffer_;
  std::size_t used_ = 0;
};

// Why seeds cannot make a file that reads back to them, or nothing.
std::optional<std::string> unwritable(const SeedSet& seeds) {
  const auto count = static_cast<std::int64_t>(seeds.size());
  if (count > std::numeric_limits<std::int32_t>::max()) return "too many seeds for a seed file";
  for (std::size_t i = 0; i < seeds.size(); ++i) {
    const SEED& s = seeds[i];
    const std::string seed = "seed " + std::to_string(i);
    for (std::size_t d = 0; d < 6; ++d) {
      if (s.desc[d].size() != seeds.front().desc[d].size()) {
        return seed + " has " + std::to_string(s.desc[d].size()) + " values in desc[" +
               std::to_string(d) + "], seed 0 has " + std::to_string(seeds.front().desc[d].size());
      }
    }
    if (s.neibCount < 0 || static_cast<std::size_t>(s.neibCount) != s.neibDist.size()) {
      return seed + " has neibCount " + std::to_string(s.neibCount) + " but holds " +
             std::to_string(s.neibDist.size()) + " distances";
    }
    if (s.neibCount < count) {
      return seed + " holds " + std::to_string(s.neibCount) + " distances, fewer than the " +
             std::to_string(count) + " seeds of the set";
    }
    bool finite = std::isfinite(s.pos[0]) && std::isfinite(s.pos[1]) && std::isfinite(s.pos[2]);
    for (const auto& values : s.desc) {
      for (const double v : values) finite = finite && std::isfinite(v);
    }
    for (const double v : s.neibDist) finite = finite && std::isfinite(v);
    if (!finite) return seed + " holds a value that is not finite, which no seed file can hold";
  }
  return std::nullopt;
}

// The text of seeds, one seed per line; false when the sink failed.
bool writeText(const SeedSet& seeds, Sink& sink) {
  Writer out(sink);
  bool good = out.number(static_cast<std::int32_t>(seeds.size()), ' ');
  for (std::size_t d = 0; d < kDescriptors && good; ++d) {
    const std::size_t length = seeds.empty() ? 0 : seeds.front().desc[d].size();
    good = out.number(static_cast<std::int64_t>(length), d + 1 == kDescriptors ? '\n' : ' ');
  }
  for (const SEED& s : seeds) {
    for (const double v : s.pos) good = good && out.number(v, ' ');
    for (const auto& values : s.desc) {
      for (std::int32_t t = 0; t < kLeadingIntegers; ++t) good = good && out.number(0, ' ');
      for (const double v : values) good = good && out.number(v, ' ');
    }
    for (const std::int32_t p : s.pts) good = good && out.number(p, ' ');
    good = good && out.number(s.neibCount, s.neibDist.empty() ? '\n' : ' ');
    for (std::size_t j = 0; j < s.neibDist.size() && good; ++j) {
      good = out.number(s.neibDist[j], j + 1 == s.neibDist.size() ? '\n' : ' ');
    }
    if (!good) return false;
  }
  return out.flush();
}

bool endsWith(const std::string& text, std::string_view end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A descriptor that closes itself.
struct Descriptor {
  int fd = -1;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
  bool close() {
    const int closing = fd;
    fd = -1;
    return ::close(closing) == 0 || errno == EINTR;
  }
};

// A new file beside path, with the permissions a plain creation would give.
std::string createBeside(const std::string& path, Descriptor& file) {
  static std::atomic<unsigned> next{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = path + ".partial-" + std::to_string(::getpid()) + "-" +
                       std::to_string(next.fetch_add(1, std::memory_order_relaxed));
    file.fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (file.fd >= 0 || errno != EEXIST) return name;
  }
  return {};
}

}  // namespace

std::string writeSeedText(const SeedSet& seeds) {
  if (auto problem = unwritable(seeds)) throw std::invalid_argument(*problem);
  std::string text;
  Sink sink(&text);
  writeText(seeds, sink);
  return text;
}

std::optional<std::string> writeSeed(const std::string& path, const SeedSet& seeds) {
  if (auto problem = unwritable(seeds)) return problem;
  const bool gzip = endsWith(path, ".gz");
  Descriptor file;
  std::string partial;  // the new file renamed over path once complete
  struct stat status {};
  if (path == kStandardOutput) {
    file.fd = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
  } else if (::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
    if (S_ISDIR(status.st_mode)) return "cannot create: " + systemErrorText(EISDIR);
    file.fd = ::open(path.c_str(),
                     O_WRONLY | O_CLOEXEC);  // a FIFO or a device takes the text as it comes
  } else {
    partial = createBeside(path, file);
  }
  if (file.fd < 0) return "cannot create: " + systemErrorText(errno);

  bool written = false;
  try {
    Sink sink(file.fd, gzip);
    written = writeText(seeds, sink) && sink.finish();
  } catch (...) {
    if (!partial.empty()) ::unlink(partial.c_str());
    throw;
  }
  int error = errno;
  if (written) {
    written = file.close() && (partial.empty() || ::rename(partial.c_str(), path.c_str()) == 0);
    error = errno;
  }
  if (written) return std::nullopt;
  if (!partial.empty()) ::unlink(partial.c_str());
  return "cannot write: " + systemErrorText(error == 0 ? EIO : error);
}

}  // namespace seedmatch
