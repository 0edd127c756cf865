// Bytes that would break a message's line, shown instead as \xHH.
#pragma once

#include <string>

namespace seedmatch {

inline void appendEscaped(std::string& text, unsigned char byte) {
  constexpr char kHex[] = "0123456789abcdef";
  text += {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
}

}  // namespace seedmatch
