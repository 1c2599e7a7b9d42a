#include "platform/FileWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace kestrune {
namespace {

class PosixFileWriter final : public FileWriter {
public:
  ~PosixFileWriter() override {
    if (Fd >= 0)
      ::close(Fd);
  }

  bool CreateUnique(const std::string &prefix) override {
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string path = TemporaryNameFor(prefix);
      // 0666 less the umask, like any other file the user creates.
      Fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (Fd >= 0) {
        FilePath = path;
        return true;
      }
      if (errno != EEXIST)
        break;
    }
    LastErrorCode = static_cast<uint32_t>(errno);
    return false;
  }

  bool WriteAt(uint64_t offset, const void *data, size_t count) override {
    const auto *bytes = static_cast<const unsigned char *>(data);
    while (count > 0) {
      ssize_t n = ::pwrite(Fd, bytes, count, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0) {
        LastErrorCode = static_cast<uint32_t>(n < 0 ? errno : ENOSPC);
        return false;
      }
      bytes += n;
      count -= static_cast<size_t>(n);
      offset += static_cast<uint64_t>(n);
    }
    return true;
  }

  bool SyncToDisk() override {
    if (::fsync(Fd) == 0)
      return true;
    LastErrorCode = static_cast<uint32_t>(errno);
    return false;
  }

  bool Close() override {
    if (Fd < 0)
      return true;
    int result = ::close(Fd);
    Fd = -1;
    if (result == 0)
      return true;
    LastErrorCode = static_cast<uint32_t>(errno);
    return false;
  }

private:
  int Fd = -1;
};

} // namespace

std::unique_ptr<FileWriter> CreateFileWriter() { return std::make_unique<PosixFileWriter>(); }

bool ReplaceFileWith(const std::string &from, const std::string &to, uint32_t &error) {
  if (::rename(from.c_str(), to.c_str()) == 0)
    return true;
  error = static_cast<uint32_t>(errno);
  return false;
}

bool RemoveFile(const std::string &path) { return ::unlink(path.c_str()) == 0; }

} // namespace kestrune
