#include "tests/support/TestFiles.h"
#include "platform/Win32Text.h"

#include <windows.h>

#include <random>
#include <stdexcept>

namespace kestrune::test {
namespace {

// FILETIME counts 100-nanosecond steps from 1601; Unix time from 1970.
constexpr int64_t StepsFrom1601To1970 = 116444736000000000LL;

HANDLE OpenForTimes(const std::string &path, DWORD access) {
  return CreateFileW(WideFromUtf8(path).c_str(), access,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

} // namespace

std::filesystem::path MakeScratchDirectory(const std::string &prefix) {
  std::random_device seed;
  std::mt19937_64 random(seed());
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::filesystem::path path = base / (prefix + std::to_string(random() % 1000000000));
    if (CreateDirectoryW(path.wstring().c_str(), nullptr))
      return path;
    if (GetLastError() != ERROR_ALREADY_EXISTS)
      break;
  }
  throw std::runtime_error("cannot make a scratch directory");
}

void SetLastWriteSeconds(const std::string &path, int64_t seconds, int64_t nanoseconds) {
  int64_t steps = seconds * 10000000 + nanoseconds / 100 + StepsFrom1601To1970;
  FILETIME time{DWORD(uint64_t(steps)), DWORD(uint64_t(steps) >> 32)};
  HANDLE file = OpenForTimes(path, FILE_WRITE_ATTRIBUTES);
  if (file == INVALID_HANDLE_VALUE)
    throw std::runtime_error("cannot open " + path);
  BOOL ok = SetFileTime(file, nullptr, &time, &time);
  CloseHandle(file);
  if (!ok)
    throw std::runtime_error("cannot set the time of " + path);
}

int64_t LastWriteSeconds(const std::string &path) {
  HANDLE file = OpenForTimes(path, FILE_READ_ATTRIBUTES);
  if (file == INVALID_HANDLE_VALUE)
    throw std::runtime_error("cannot open " + path);
  FILETIME time{};
  BOOL ok = GetFileTime(file, nullptr, nullptr, &time);
  CloseHandle(file);
  if (!ok)
    throw std::runtime_error("cannot read the time of " + path);
  int64_t steps = int64_t(uint64_t(time.dwHighDateTime) << 32 | time.dwLowDateTime);
  // Floor division: times before 1970 round down as st_mtime does.
  int64_t since1970 = steps - StepsFrom1601To1970;
  return since1970 >= 0 ? since1970 / 10000000 : -((-since1970 + 9999999) / 10000000);
}

void CopyKeepingTime(const std::string &from, const std::string &to) {
  if (!CopyFileW(WideFromUtf8(from).c_str(), WideFromUtf8(to).c_str(), FALSE))
    throw std::runtime_error("cannot copy " + from + " (" + std::to_string(GetLastError()) + ")");
}

bool LocalCalendarTime(int64_t seconds, std::tm &local) {
  __time64_t moment = seconds;
  return _localtime64_s(&local, &moment) == 0;
}

} // namespace kestrune::test
