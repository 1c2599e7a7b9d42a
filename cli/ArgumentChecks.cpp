#include "cli/ArgumentChecks.h"
#include "platform/Utf8Paths.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kestrune {

std::string SummaryProblem(const std::string &path) {
  std::FILE *file = OpenFileUtf8(path, "a");
  if (file == nullptr)
    return std::strerror(errno);
  std::fclose(file);
  return {};
}

} // namespace kestrune
