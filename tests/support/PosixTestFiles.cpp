#include "tests/support/TestFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace kestrune::test {

std::filesystem::path MakeScratchDirectory(const std::string &prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("mkdtemp failed");
  return pattern;
}

void SetLastWriteSeconds(const std::string &path, int64_t seconds, int64_t nanoseconds) {
  struct timespec times[2];
  times[0].tv_sec = static_cast<time_t>(seconds);
  times[0].tv_nsec = 0;
  times[1].tv_sec = static_cast<time_t>(seconds);
  times[1].tv_nsec = static_cast<long>(nanoseconds);
  if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
    throw std::runtime_error("cannot set the time of " + path);
}

int64_t LastWriteSeconds(const std::string &path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0)
    throw std::runtime_error("cannot stat " + path);
  return st.st_mtim.tv_sec;
}

void CopyKeepingTime(const std::string &from, const std::string &to) {
  std::string command = "cp -p '" + from + "' '" + to + "'";
  if (std::system(command.c_str()) != 0)
    throw std::runtime_error("failed: " + command);
}

bool LocalCalendarTime(int64_t seconds, std::tm &local) {
  time_t moment = static_cast<time_t>(seconds);
  return ::localtime_r(&moment, &local) != nullptr;
}

} // namespace kestrune::test
