// The words the library's messages use for a system error, for callers that
// report their own failures alike.
#pragma once

#include <string>

namespace seedmatch {

// A system error number as words for a message: lower case, like every
// message of the commands ("no such file or directory").
std::string systemErrorText(int error);

}  // namespace seedmatch
