// The words the library's messages use for a system error, for callers that
// report their own failures alike.
#pragma once

#include <string>

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

}  // namespace seedmatch
