#include "platform/FileTimes.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <ctime>

namespace kestrune {

bool GetFileClocks(const std::string &path, FileClock &lastWrite, FileClock &lastChange,
                   uint32_t &error) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    error = static_cast<uint32_t>(errno);
    return false;
  }
  lastWrite = {st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
  lastChange = {st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
  return true;
}

bool GetLastWriteFatTime(const std::string &path, FatTime &time, uint32_t &error) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    error = static_cast<uint32_t>(errno);
    return false;
  }
  std::tm local{};
  time_t seconds = st.st_mtim.tv_sec;
  if (::localtime_r(&seconds, &local) == nullptr) {
    error = static_cast<uint32_t>(errno ? errno : EOVERFLOW);
    return false;
  }
  time.Year = local.tm_year + 1900;
  time.Month = local.tm_mon + 1;
  time.Day = local.tm_mday;
  time.Hour = local.tm_hour;
  time.Minute = local.tm_min;
  // A leap second (60) stays in the last slot of its minute.
  time.TwoSeconds = (local.tm_sec > 59 ? 59 : local.tm_sec) / 2;
  time.Exact = true;
  ClampToFatRange(time);
  return true;
}

bool SetLastWriteFatTime(const std::string &path, const FatTime &time, uint32_t &error) {
  std::tm local{};
  local.tm_year = time.Year - 1900;
  local.tm_mon = time.Month - 1;
  local.tm_mday = time.Day;
  local.tm_hour = time.Hour;
  local.tm_min = time.Minute;
  local.tm_sec = time.TwoSeconds * 2;
  local.tm_isdst = -1; // let the time zone rules decide, as the reading side did
  errno = 0;
  time_t seconds = std::mktime(&local);
  if (seconds == static_cast<time_t>(-1) && errno != 0) {
    error = static_cast<uint32_t>(errno);
    return false;
  }
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT; // leave the access time alone
  times[1].tv_sec = seconds;
  times[1].tv_nsec = 0;
  if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
    error = static_cast<uint32_t>(errno);
    return false;
  }
  return true;
}

} // namespace kestrune
