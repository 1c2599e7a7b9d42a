#include "platform/Utf8Paths.h"
#include "platform/Win32Text.h"

#include <io.h>

namespace kestrune {

std::FILE *OpenFileUtf8(const std::string &name, const char *mode) {
  return _wfopen(WideFromUtf8(name).c_str(), WideFromUtf8(mode).c_str());
}

bool CanReadFileUtf8(const std::string &name) {
  return _waccess(WideFromUtf8(name).c_str(), 4) == 0;
}

} // namespace kestrune
