#include "cli/ArgumentChecks.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kestrune {

std::string SummaryProblem(const std::string &path) {
  std::FILE *file = std::fopen(path.c_str(), "a");
  if (file == nullptr)
    return std::strerror(errno);
  std::fclose(file);
  return {};
}

} // namespace kestrune
