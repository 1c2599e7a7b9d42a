#include "tests/serial/SleepingProgram.h"

#include <windows.h>

#include <string>
#include <vector>

namespace kestrune::serial::test {

SleepingProgram::SleepingProgram(const char *) {
  // cmd.exe reads its commands from a pipe whose writing end this program
  // keeps: it waits until killed.
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE input = nullptr, feed = nullptr;
  if (!CreatePipe(&input, &feed, &inherit, 0))
    return;
  SetHandleInformation(feed, HANDLE_FLAG_INHERIT, 0);
  HANDLE nul = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           OPEN_EXISTING, 0, nullptr);
  // It inherits these two handles and no other: not this program's own
  // output, which whoever reads it would then wait on until cmd.exe ended.
  HANDLE inherited[2] = {input, nul};
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<char> attributes(size);
  auto *list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
  const bool listed =
      nul != INVALID_HANDLE_VALUE && InitializeProcThreadAttributeList(list, 1, 0, &size) &&
      UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                sizeof inherited, nullptr, nullptr);
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = input;
  startup.StartupInfo.hStdOutput = nul;
  startup.StartupInfo.hStdError = nul;
  startup.lpAttributeList = list;
  std::wstring command = L"cmd.exe /q /k";
  // Without a console of its own: a console made for it (even one with no
  // window) has a console host that under Wine now and then outlived it,
  // holding the test's output open so that ctest waited for it.
  PROCESS_INFORMATION process{};
  const bool started =
      listed && CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE,
                               DETACHED_PROCESS | EXTENDED_STARTUPINFO_PRESENT, nullptr,
                               nullptr, &startup.StartupInfo, &process);
  if (listed)
    DeleteProcThreadAttributeList(list);
  CloseHandle(input);
  if (nul != INVALID_HANDLE_VALUE)
    CloseHandle(nul);
  if (!started) {
    CloseHandle(feed);
    return;
  }
  CloseHandle(process.hThread);
  Id = int64_t(process.dwProcessId);
  Handle = process.hProcess;
  Feed = feed;
  Running = true;
}

void SleepingProgram::Kill() {
  if (!Running)
    return;
  TerminateProcess(Handle, 1);
  WaitForSingleObject(Handle, INFINITE);
  CloseHandle(Handle);
  CloseHandle(Feed);
  Running = false;
}

} // namespace kestrune::serial::test
