#include "ImageFileReader.h"

#include <windows.h>

namespace kestrune {
namespace {

class Win32ImageFileReader final : public ImageFileReader {
public:
  ~Win32ImageFileReader() override { Close(); }

  bool Open(const std::string &path) override {
    Close();
    Handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (Handle == INVALID_HANDLE_VALUE) {
      LastErrorCode = GetLastError();
      return false;
    }
    return true;
  }

  bool IsOpen() const override { return Handle != INVALID_HANDLE_VALUE; }

  void Close() override {
    if (Handle != INVALID_HANDLE_VALUE)
      CloseHandle(Handle);
    Handle = INVALID_HANDLE_VALUE;
  }

  uint32_t Size() override { return GetFileSize(Handle, nullptr); }

  bool Read(void *data, uint32_t count, uint32_t &received) override {
    DWORD n = 0;
    BOOL ok = ReadFile(Handle, data, count, &n, nullptr);
    received = ok ? n : 0;
    if (!ok)
      LastErrorCode = GetLastError();
    return ok != 0;
  }

private:
  HANDLE Handle = INVALID_HANDLE_VALUE;
};

} // namespace

std::unique_ptr<ImageFileReader> CreateImageFileReader() {
  return std::make_unique<Win32ImageFileReader>();
}

void RaiseCurrentThreadPriority() {
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
}

} // namespace kestrune
