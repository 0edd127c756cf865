// Shared by the reader and the driver; not part of the installed interface.
#pragma once

#include <string>

namespace seedmatch {

// A system error number as words for a message: lower case, like every
// message of the commands.
std::string systemErrorText(int error);

}  // namespace seedmatch
