// The words the library's messages use for a system error, for callers that
// report their own failures alike.
#pragma once

#include <future>
#include <string>
#include <system_error>
#include <utility>

namespace seedmatch {

// A system error number as words for a message: lower case, like every
// message of the commands ("no such file or directory").
std::string systemErrorText(int error);

// Whether the address space has room for a new thread's first allocations.
// A thread's exception storage is allocated on its first use, and in a
// library loaded late (the Python module) failing to allocate it aborts the
// process; where memory has run out, work meant for a thread runs on the
// caller's instead. The thread should use that storage at once to take it,
// as useThreadStorage() does.
bool roomForThread();
void useThreadStorage();

// Starts fn() on a new Thread (std::thread or std::jthread) and returns once
// that thread has taken its exception storage, so that this thread's
// allocations cannot use up the memory it needs first. Throws
// std::system_error when roomForThread() says no or no thread can be started.
template <class Thread, class Fn>
Thread startThread(Fn fn) {
  if (!roomForThread()) {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  }
  std::promise<void> ready;
  std::future<void> started = ready.get_future();
  Thread thread([ready = std::move(ready), fn = std::move(fn)]() mutable {
    useThreadStorage();
    ready.set_value();
    fn();
  });
  started.wait();
  return thread;
}

}  // namespace seedmatch
