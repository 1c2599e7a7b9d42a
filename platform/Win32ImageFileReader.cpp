#include "ImageFileReader.h"
#include "platform/Win32Text.h"

#include <windows.h>

namespace kestrune {
namespace {

class Win32ImageFileReader final : public ImageFileReader {
public:
  ~Win32ImageFileReader() override { Close(); }

  bool Open(const std::string &path) override {
    Close();
    // Shared for deleting too: a new conversion renames its .bif over this
    // one while channels still read it, as on Linux; they keep the old data.
    Handle = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
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

  uint64_t Size() override {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(Handle, &size)) {
      LastErrorCode = GetLastError();
      return UnknownSize;
    }
    return static_cast<uint64_t>(size.QuadPart);
  }

  // One ReadFile may return fewer bytes than asked before the end (a file
  // on a network share); reads go on until count bytes or the end.
  bool Read(void *data, uint32_t count, uint32_t &received) override {
    received = 0;
    auto *bytes = static_cast<BYTE *>(data);
    while (received < count) {
      DWORD n = 0;
      if (!ReadFile(Handle, bytes + received, count - received, &n, nullptr)) {
        LastErrorCode = GetLastError();
        return false;
      }
      if (n == 0)
        break;
      received += n;
    }
    return true;
  }

private:
  HANDLE Handle = INVALID_HANDLE_VALUE;
};

} // namespace

std::unique_ptr<ImageFileReader> CreateImageFileReader() {
  return std::make_unique<Win32ImageFileReader>();
}

uint32_t EndOfFileErrorCode() { return ERROR_HANDLE_EOF; }

void RaiseCurrentThreadPriority() {
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
}

} // namespace kestrune
