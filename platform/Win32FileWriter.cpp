#include "platform/FileWriter.h"

#include <windows.h>


namespace kestrune {
namespace {

class Win32FileWriter final : public FileWriter {
public:
  ~Win32FileWriter() override {
    if (Handle != INVALID_HANDLE_VALUE)
      CloseHandle(Handle);
  }

  bool CreateUnique(const std::string &prefix) override {
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string path = TemporaryNameFor(prefix);
      Handle = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
      if (Handle != INVALID_HANDLE_VALUE) {
        FilePath = path;
        return true;
      }
      DWORD code = GetLastError();
      if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) {
        LastErrorCode = code;
        return false;
      }
    }
    LastErrorCode = ERROR_FILE_EXISTS;
    return false;
  }

  bool WriteAt(uint64_t offset, const void *data, size_t count) override {
    const auto *bytes = static_cast<const unsigned char *>(data);
    while (count > 0) {
      OVERLAPPED at{};
      at.Offset = static_cast<DWORD>(offset);
      at.OffsetHigh = static_cast<DWORD>(offset >> 32);
      DWORD chunk = count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count);
      DWORD written = 0;
      if (!WriteFile(Handle, bytes, chunk, &written, &at)) {
        LastErrorCode = GetLastError();
        return false;
      }
      if (written == 0) {
        LastErrorCode = ERROR_DISK_FULL;
        return false;
      }
      bytes += written;
      count -= written;
      offset += written;
    }
    return true;
  }

  bool SyncToDisk() override {
    if (FlushFileBuffers(Handle))
      return true;
    LastErrorCode = GetLastError();
    return false;
  }

  bool Close() override {
    if (Handle == INVALID_HANDLE_VALUE)
      return true;
    BOOL ok = CloseHandle(Handle);
    Handle = INVALID_HANDLE_VALUE;
    if (ok)
      return true;
    LastErrorCode = GetLastError();
    return false;
  }

private:
  HANDLE Handle = INVALID_HANDLE_VALUE;
};

} // namespace

std::unique_ptr<FileWriter> CreateFileWriter() { return std::make_unique<Win32FileWriter>(); }

bool ReplaceFileWith(const std::string &from, const std::string &to, uint32_t &error) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  error = GetLastError();
  return false;
}

bool RemoveFile(const std::string &path) { return DeleteFileA(path.c_str()) != 0; }

} // namespace kestrune
