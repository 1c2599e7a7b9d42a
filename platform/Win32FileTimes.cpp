#include "platform/FileTimes.h"
#include "platform/Win32Text.h"

#include <windows.h>

namespace kestrune {
namespace {

// Opens the file only for its attributes, sharing it with every other user.
HANDLE OpenForAttributes(const std::string &path, DWORD access) {
  return CreateFileW(WideFromUtf8(path).c_str(), access,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

} // namespace

bool GetFileClocks(const std::string &path, FileClock &lastWrite, FileClock &lastChange,
                   uint32_t &error) {
  HANDLE file = OpenForAttributes(path, FILE_READ_ATTRIBUTES);
  if (file == INVALID_HANDLE_VALUE) {
    error = GetLastError();
    return false;
  }
  FILE_BASIC_INFO info{};
  BOOL ok = GetFileInformationByHandleEx(file, FileBasicInfo, &info, sizeof info);
  if (!ok)
    error = GetLastError();
  CloseHandle(file);
  if (!ok)
    return false;
  // Both in 100-nanosecond steps since 1601.
  lastWrite = {info.LastWriteTime.QuadPart / 10000000, info.LastWriteTime.QuadPart % 10000000 * 100};
  lastChange = {info.ChangeTime.QuadPart / 10000000, info.ChangeTime.QuadPart % 10000000 * 100};
  return true;
}

// The local calendar time first, for any year Windows can show; the FAT
// form's limits are applied after, so a file from 1975 has a time too.
bool GetLastWriteFatTime(const std::string &path, FatTime &time, uint32_t &error) {
  HANDLE file = OpenForAttributes(path, FILE_READ_ATTRIBUTES);
  if (file == INVALID_HANDLE_VALUE) {
    error = GetLastError();
    return false;
  }
  FILETIME written{};
  FILETIME local{};
  SYSTEMTIME fields{};
  BOOL ok = GetFileTime(file, nullptr, nullptr, &written) &&
            FileTimeToLocalFileTime(&written, &local) && FileTimeToSystemTime(&local, &fields);
  if (!ok)
    error = GetLastError();
  CloseHandle(file);
  if (!ok)
    return false;
  time = FatTime{fields.wYear, fields.wMonth, fields.wDay, fields.wHour, fields.wMinute,
                 fields.wSecond / 2, true};
  ClampToFatRange(time);
  return true;
}

bool SetLastWriteFatTime(const std::string &path, const FatTime &time, uint32_t &error) {
  if (time.Year < 1980 || time.Year > 2107) {
    error = ERROR_INVALID_PARAMETER;
    return false;
  }
  WORD date = static_cast<WORD>(((time.Year - 1980) << 9) | (time.Month << 5) | time.Day);
  WORD clock = static_cast<WORD>((time.Hour << 11) | (time.Minute << 5) | time.TwoSeconds);
  FILETIME local{};
  FILETIME written{};
  if (!DosDateTimeToFileTime(date, clock, &local) || !LocalFileTimeToFileTime(&local, &written)) {
    error = GetLastError();
    return false;
  }
  HANDLE file = OpenForAttributes(path, FILE_WRITE_ATTRIBUTES);
  if (file == INVALID_HANDLE_VALUE) {
    error = GetLastError();
    return false;
  }
  BOOL ok = SetFileTime(file, nullptr, nullptr, &written);
  if (!ok)
    error = GetLastError();
  CloseHandle(file);
  return ok != 0;
}

} // namespace kestrune
