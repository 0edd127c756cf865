// The bytes of a seed file: read front to back, never seeking, and inflated on
// the way when the file is gzip data. Not part of the installed interface.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

namespace seedmatch {

// The path that names standard input.
inline constexpr const char* kStandardInput = "-";

// Lets one thread stop another's reading: set requested, then write a byte to
// wakeFd so that a reader waiting on a pipe or terminal sees it.
struct Cancellation {
  std::atomic<bool> requested{false};
  int wakeFd = -1;  // read end of a pipe, or -1
};

// A pipe whose write end wakes a reader waiting in poll(). Its ends are kept
// off descriptors 0 to 2: with standard input closed, the read end would
// otherwise be read as "-". readEnd() is -1 when no pipe could be made.
class WakePipe {
 public:
  WakePipe();
  WakePipe(const WakePipe&) = delete;
  WakePipe& operator=(const WakePipe&) = delete;
  ~WakePipe();
  int readEnd() const { return fds_[0]; }
  void wake() const;

 private:
  int fds_[2] = {-1, -1};
};

// One open seed file. A file whose first two bytes are the gzip magic is
// inflated, member after member; anything else is passed through unchanged.
class Input {
 public:
  Input();
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;
  ~Input();

  // Opens path, or standard input for kStandardInput; the message of why
  // not on failure. With a cancellation, waits for data on pipes and
  // terminals so that it can give up when asked; a FIFO is then opened
  // without blocking, then waited on as any pipe.
  std::optional<std::string> open(const std::string& path, const Cancellation* cancel = nullptr);

  // Reads up to size bytes into to; 0 at the end of the text. On failure
  // returns -1 and message() tells why, after every byte that could be
  // recovered ahead of the failure has been returned.
  std::ptrdiff_t read(char* to, std::size_t size);

  // Reads the rest of a gzip file and checks it, so that damage anywhere in
  // it is found; does nothing for a plain file. False on failure, as read().
  bool finish(char* scratch, std::size_t size);

  const std::string& message() const { return message_; }

  // A regular file that is not gzip data; known once reading has begun.
  bool regularPlain() const { return regular_ && sniffed_ && !inflater_; }

 private:
  std::ptrdiff_t readRaw(char* to, std::size_t size);
  std::ptrdiff_t inflateInto(char* to, std::size_t size);
  void startGzip();
  std::ptrdiff_t failure(std::string message);

  struct Inflater;
  int fd_ = -1;
  const Cancellation* cancel_ = nullptr;
  bool waitForData_ = false;  // poll before each read: a pipe, FIFO or terminal
  bool regular_ = false;
  bool sniffed_ = false;
  char head_[2] = {};
  std::size_t headSize_ = 0;
  std::size_t headGiven_ = 0;
  std::unique_ptr<Inflater> inflater_;  // set for gzip data
  bool failed_ = false;
  std::string message_;
};

}  // namespace seedmatch
