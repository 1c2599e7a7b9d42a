#include "cli/ArgumentChecks.h"
#include "platform/Utf8Paths.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace kestrune {

bool SamePort(const std::string &a, const std::string &b) {
  if (a == b)
    return true;
#ifndef _WIN32
  // std::filesystem::equivalent refuses to compare two devices.
  struct stat first {}, second {};
  if (::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0)
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
#endif
  return false;
}

std::string SummaryProblem(const std::string &path) {
  std::FILE *file = OpenFileUtf8(path, "a");
  if (file == nullptr)
    return std::strerror(errno);
  std::fclose(file);
  return {};
}

} // namespace kestrune
