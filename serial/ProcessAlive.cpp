#include "serial/ProcessAlive.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fstream>
#include <signal.h>
#include <sstream>
#include <unistd.h>
#endif

namespace kestrune::serial {

#ifdef _WIN32

int64_t CurrentProcessId() { return int64_t(GetCurrentProcessId()); }

std::string ProcessStartMark(int64_t pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
  if (!process)
    return {};
  FILETIME created, ended, kernel, user;
  const bool read = GetProcessTimes(process, &created, &ended, &kernel, &user) != 0;
  CloseHandle(process);
  if (!read)
    return {};
  const uint64_t ticks = (uint64_t(created.dwHighDateTime) << 32) | created.dwLowDateTime;
  return "created:" + std::to_string(ticks);
}

bool ProcessAlive(int64_t pid, const std::string &startMark) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, DWORD(pid));
  if (!process)
    return GetLastError() != ERROR_INVALID_PARAMETER;
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  if (!running || startMark.empty())
    return running;
  const std::string now = ProcessStartMark(pid);
  return now.empty() || now == startMark;
}

#else

namespace {

std::string BootId() {
  std::ifstream in("/proc/sys/kernel/random/boot_id");
  std::string id;
  std::getline(in, id);
  return id;
}

// Field 22 of /proc/PID/stat: the start in clock ticks since the boot. The
// second field (the program's name in parentheses) may itself hold spaces
// and parentheses: the fields are counted from its last ')'.
std::string StartTicks(int64_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line))
    return {};
  const size_t close = line.rfind(')');
  if (close == std::string::npos)
    return {};
  std::istringstream fields(line.substr(close + 1));
  std::string field;
  for (int number = 3; number <= 22; ++number)
    if (!(fields >> field))
      return {};
  return field;
}

} // namespace

int64_t CurrentProcessId() { return int64_t(getpid()); }

std::string ProcessStartMark(int64_t pid) {
  const std::string boot = BootId();
  const std::string ticks = StartTicks(pid);
  if (boot.empty() || ticks.empty())
    return {};
  return boot + ":" + ticks;
}

bool ProcessAlive(int64_t pid, const std::string &startMark) {
  if (pid <= 0)
    return true;
  if (kill(pid_t(pid), 0) != 0 && errno == ESRCH)
    return false;
  if (startMark.empty())
    return true;
  const std::string now = ProcessStartMark(pid);
  // Gone between the two looks, or no /proc to read: as far as known.
  if (now.empty())
    return kill(pid_t(pid), 0) == 0 || errno != ESRCH;
  return now == startMark;
}

#endif

} // namespace kestrune::serial
