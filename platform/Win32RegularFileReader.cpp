#include "platform/RegularFileReader.h"
#include "platform/Win32Text.h"

#include <windows.h>

namespace kestrune {
namespace {

const char *KindOf(DWORD type) {
  switch (type) {
  case FILE_TYPE_CHAR:
    return "a character device";
  case FILE_TYPE_PIPE:
    return "a pipe";
  default:
    return "not a regular file";
  }
}

class Win32RegularFileReader final : public RegularFileReader {
public:
  ~Win32RegularFileReader() override { Close(); }

  bool Open(const std::string &path) override {
    Close();
    Kind.clear();
    Directory = false;
    FileSize = 0;
    // A directory does not open without FILE_FLAG_BACKUP_SEMANTICS: it fails
    // with ERROR_ACCESS_DENIED, and its attributes tell it apart.
    std::wstring name = WideFromUtf8(path);
    Handle = CreateFileW(name.c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (Handle == INVALID_HANDLE_VALUE) {
      DWORD code = GetLastError();
      DWORD attributes = GetFileAttributesW(name.c_str());
      Directory = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
      return Fail(code);
    }
    DWORD type = GetFileType(Handle);
    if (type != FILE_TYPE_DISK) {
      Kind = KindOf(type);
      return Fail(0);
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(Handle, &size))
      return Fail(GetLastError());
    FileSize = static_cast<uint64_t>(size.QuadPart);
    return true;
  }

  void Close() override {
    if (Handle != INVALID_HANDLE_VALUE)
      CloseHandle(Handle);
    Handle = INVALID_HANDLE_VALUE;
  }

  bool Read(void *data, size_t count, size_t &received) override {
    DWORD n = 0;
    DWORD chunk = count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count);
    BOOL ok = ReadFile(Handle, data, chunk, &n, nullptr);
    received = ok ? n : 0;
    if (!ok)
      LastErrorCode = GetLastError();
    return ok != 0;
  }

  bool Rewind() override {
    LARGE_INTEGER zero{};
    if (SetFilePointerEx(Handle, zero, nullptr, FILE_BEGIN))
      return true;
    LastErrorCode = GetLastError();
    return false;
  }

private:
  bool Fail(DWORD code) {
    LastErrorCode = code;
    Close();
    return false;
  }

  HANDLE Handle = INVALID_HANDLE_VALUE;
};

} // namespace

std::unique_ptr<RegularFileReader> CreateRegularFileReader() {
  return std::make_unique<Win32RegularFileReader>();
}

} // namespace kestrune
