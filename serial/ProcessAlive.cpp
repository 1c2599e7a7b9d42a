#include "serial/ProcessAlive.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <signal.h>
#include <unistd.h>
#endif

namespace kestrune::serial {

#ifdef _WIN32

int64_t CurrentProcessId() { return int64_t(GetCurrentProcessId()); }

bool ProcessAlive(int64_t pid) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, DWORD(pid));
  if (!process)
    return GetLastError() != ERROR_INVALID_PARAMETER;
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}

#else

int64_t CurrentProcessId() { return int64_t(getpid()); }

bool ProcessAlive(int64_t pid) {
  if (pid <= 0)
    return true;
  return kill(pid_t(pid), 0) == 0 || errno != ESRCH;
}

#endif

} // namespace kestrune::serial
