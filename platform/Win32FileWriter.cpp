#include "platform/FileWriter.h"
#include "platform/Utf8Paths.h"
#include "platform/Win32Text.h"

#include <windows.h>

#include <filesystem>

namespace kestrune {
namespace {

class Win32FileWriter final : public FileWriter {
public:
  ~Win32FileWriter() override {
    if (Handle != INVALID_HANDLE_VALUE)
      CloseHandle(Handle);
  }

  bool CreateUnique(const std::string &target) override {
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string path = TemporaryNameFor(target);
      // Shared for deleting so that the finished file can be renamed while
      // it is still open; the open handle is what keeps RemoveDeadTemporaries
      // away from it.
      Handle = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
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

int RemoveDeadTemporaries(const std::string &target) {
  namespace fs = std::filesystem;
  fs::path directory = PathFromUtf8(target).parent_path();
  std::error_code error;
  int removed = 0;
  for (fs::directory_iterator it(directory.empty() ? fs::path(".") : directory, error), end;
       !error && it != end; it.increment(error)) {
    std::string name = Utf8FromPath(it->path().filename());
    if (!IsTemporaryNameFor(name, target))
      continue;
    std::wstring path = it->path().wstring();
    // Opened without sharing, so this fails while a writer has it open; the
    // file goes when this handle closes.
    HANDLE file = CreateFileW(path.c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE)
      continue;
    CloseHandle(file);
    ++removed;
  }
  return removed;
}

// A target that a channel has open (shared for deleting) cannot be replaced
// in one step, but it can be renamed: it is moved aside under a temporary
// name, the new file takes its name, and the old one is deleted, which
// Windows carries out when its last reader closes it. Should the second
// rename fail, the old file gets its name back.
bool ReplaceFileWith(const std::string &from, const std::string &to, uint32_t &error) {
  std::wstring source = WideFromUtf8(from);
  std::wstring target = WideFromUtf8(to);
  if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  DWORD code = GetLastError();
  DWORD attributes = GetFileAttributesW(target.c_str());
  bool openFile = (code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION) &&
                  attributes != INVALID_FILE_ATTRIBUTES &&
                  !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY));
  if (!openFile) {
    error = code;
    return false;
  }
  std::wstring aside = WideFromUtf8(TemporaryNameFor(to));
  if (!MoveFileExW(target.c_str(), aside.c_str(), MOVEFILE_WRITE_THROUGH)) {
    error = code;
    return false;
  }
  if (!MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
    error = GetLastError();
    MoveFileExW(aside.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
    return false;
  }
  DeleteFileW(aside.c_str());
  return true;
}

bool RemoveFile(const std::string &path) { return DeleteFileW(WideFromUtf8(path).c_str()) != 0; }

} // namespace kestrune
