// How a load ends in failure: its text goes to LoadStatusText and the
// loader's exit code is 1.
#pragma once

#include "image/ImageState.h"

#include <cstdint>
#include <string>

namespace kestrune {

inline int FailLoad(const std::string &text) {
  LoadStatusText.Set(text);
  return 1;
}

// The text with the platform's error code in brackets.
inline int FailLoadWithCode(const char *text, uint32_t code) {
  return FailLoad(std::string(text) + " (" + std::to_string(code) + ")");
}

} // namespace kestrune
