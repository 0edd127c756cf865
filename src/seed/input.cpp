#include "input.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "seedmatch/seed/system_error.h"

namespace seedmatch {
namespace {

constexpr std::size_t kCompressedChunk = std::size_t{1} << 18;
constexpr int kGzipOnly = 16 + MAX_WBITS;

}  // namespace

struct Input::Inflater {
  z_stream stream{};
  std::unique_ptr<unsigned char[]> chunk =
      std::make_unique_for_overwrite<unsigned char[]>(kCompressedChunk);
  bool initialised = false;
  bool inMember = false;  // a member has started and not yet ended
  bool rawEnded = false;  // the file holds no more compressed bytes

  ~Inflater() {
    if (initialised) inflateEnd(&stream);
  }
};

WakePipe::WakePipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return;
  for (int& fd : fds) {
    if (fd > STDERR_FILENO) continue;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    ::close(fd);
    fd = moved;
  }
  if (fds[0] >= 0 && fds[1] >= 0) {
    fds_[0] = fds[0];
    fds_[1] = fds[1];
  } else {
    for (const int fd : fds) {
      if (fd >= 0) ::close(fd);
    }
  }
}

WakePipe::~WakePipe() {
  for (const int fd : fds_) {
    if (fd >= 0) ::close(fd);
  }
}

void WakePipe::wake() const {
  if (fds_[1] >= 0) {
    [[maybe_unused]] const ssize_t written = ::write(fds_[1], "x", 1);
  }
}

Input::Input() = default;

Input::~Input() {
  if (fd_ >= 0) ::close(fd_);
}

std::optional<std::string> Input::open(const std::string& path, const Cancellation* cancel) {
  cancel_ = cancel;
  int flags = O_RDONLY | O_CLOEXEC;
  struct stat status {};
  // Opening a FIFO blocks until a writer comes, and could not then be given up.
  if (cancel != nullptr && ::stat(path.c_str(), &status) == 0 && S_ISFIFO(status.st_mode)) {
    flags |= O_NONBLOCK;
  }
  if (path == kStandardInput) {
    fd_ = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0);
  } else {
    do {
      fd_ = ::open(path.c_str(), flags);
    } while (fd_ < 0 && errno == EINTR);
  }
  if (fd_ < 0) return "cannot open: " + systemErrorText(errno);
  if (::fstat(fd_, &status) == 0) {
    if (S_ISDIR(status.st_mode)) return "cannot open: " + systemErrorText(EISDIR);
    waitForData_ = cancel != nullptr && !S_ISREG(status.st_mode);
    regular_ = S_ISREG(status.st_mode);
  }
  return std::nullopt;
}

std::ptrdiff_t Input::failure(std::string message) {
  failed_ = true;
  message_ = std::move(message);
  return -1;
}

std::ptrdiff_t Input::readRaw(char* to, std::size_t size) {
  for (;;) {
    if (cancel_ != nullptr && cancel_->requested.load(std::memory_order_relaxed)) {
      return failure("cancelled");
    }
    if (waitForData_) {
      // A FIFO opened without a writer reports neither data nor hang-up until
      // one has come: this waits for it as a blocking open would.
      pollfd fds[2] = {{fd_, POLLIN, 0}, {cancel_->wakeFd, POLLIN, 0}};
      if (::poll(fds, cancel_->wakeFd >= 0 ? 2 : 1, -1) < 0) {
        if (errno == EINTR) continue;
        return failure("cannot read: " + systemErrorText(errno));
      }
      if (fds[1].revents != 0) return failure("cancelled");
    }
    const ssize_t count = ::read(fd_, to, size);
    if (count >= 0) return count;
    if (errno != EINTR && errno != EAGAIN) return failure("cannot read: " + systemErrorText(errno));
  }
}

void Input::startGzip() {
  inflater_ = std::make_unique<Inflater>();
  Inflater& in = *inflater_;
  if (inflateInit2(&in.stream, kGzipOnly) != Z_OK) throw std::bad_alloc();
  in.initialised = true;
  std::memcpy(in.chunk.get(), head_, headSize_);
  in.stream.next_in = in.chunk.get();
  in.stream.avail_in = static_cast<uInt>(headSize_);
}

std::ptrdiff_t Input::read(char* to, std::size_t size) {
  if (failed_) return -1;
  if (!sniffed_) {
    sniffed_ = true;
    while (headSize_ < sizeof head_) {
      const std::ptrdiff_t count = readRaw(head_ + headSize_, sizeof head_ - headSize_);
      if (count < 0) return -1;
      if (count == 0) break;
      headSize_ += static_cast<std::size_t>(count);
    }
    if (headSize_ == 2 && static_cast<unsigned char>(head_[0]) == 0x1f &&
        static_cast<unsigned char>(head_[1]) == 0x8b) {
      startGzip();
    }
  }
  if (inflater_) return inflateInto(to, size);
  if (headGiven_ < headSize_) {
    const std::size_t count = std::min(size, headSize_ - headGiven_);
    std::memcpy(to, head_ + headGiven_, count);
    headGiven_ += count;
    return static_cast<std::ptrdiff_t>(count);
  }
  return readRaw(to, size);
}

std::ptrdiff_t Input::inflateInto(char* to, std::size_t size) {
  Inflater& in = *inflater_;
  z_stream& z = in.stream;
  z.next_out = reinterpret_cast<Bytef*>(to);
  z.avail_out = static_cast<uInt>(size);
  // A failure after some text was produced is held back until that text is used.
  const auto fail = [&](std::string message) {
    failure(std::move(message));
    return z.avail_out == size ? -1 : static_cast<std::ptrdiff_t>(size - z.avail_out);
  };
  while (z.avail_out > 0) {
    if (z.avail_in == 0 && !in.rawEnded) {
      const std::ptrdiff_t count =
          readRaw(reinterpret_cast<char*>(in.chunk.get()), kCompressedChunk);
      if (count < 0) return fail(message_);
      in.rawEnded = count == 0;
      z.next_in = in.chunk.get();
      z.avail_in = static_cast<uInt>(count);
    }
    if (z.avail_in == 0 && in.rawEnded) {
      if (in.inMember) return fail("gzip data ends early");
      break;
    }
    // Members follow one another; each is inflated from a fresh start.
    if (!in.inMember) {
      inflateReset(&z);
      in.inMember = true;
    }
    const int status = inflate(&z, Z_NO_FLUSH);
    if (status == Z_STREAM_END) {
      in.inMember = false;
    } else if (status == Z_MEM_ERROR) {
      throw std::bad_alloc();
    } else if (status != Z_OK && status != Z_BUF_ERROR) {
      return fail(std::string("corrupt gzip data: ") +
                  (z.msg != nullptr ? z.msg : "unknown error"));
    }
  }
  return static_cast<std::ptrdiff_t>(size - z.avail_out);
}

bool Input::finish(char* scratch, std::size_t size) {
  if (!inflater_) return true;
  for (;;) {
    const std::ptrdiff_t count = read(scratch, size);
    if (count <= 0) return count == 0;
  }
}

}  // namespace seedmatch
