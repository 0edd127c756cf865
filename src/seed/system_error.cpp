#include "seedmatch/seed/system_error.h"

#include <cerrno>
#include <cstring>

namespace seedmatch {

std::string systemErrorText(int error) {
  switch (error) {
    case ENOENT: return "no such file";
    case EACCES: return "permission denied";
    case EISDIR: return "is a directory";
    case ENOTDIR: return "a leading part of the path is not a directory";
    default: break;
  }
  std::string text = std::strerror(error);
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z')
    text[0] = static_cast<char>(text[0] - 'A' + 'a');
  return text;
}

}  // namespace seedmatch
