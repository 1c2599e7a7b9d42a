#include "platform/Utf8Paths.h"

#include <unistd.h>

namespace kestrune {

std::FILE *OpenFileUtf8(const std::string &name, const char *mode) {
  return std::fopen(name.c_str(), mode);
}

bool CanReadFileUtf8(const std::string &name) { return ::access(name.c_str(), R_OK) == 0; }

} // namespace kestrune
