#include "platform/FatalSignalCleanup.h"
#include "platform/FileWriter.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace kestrune {
namespace {

// Whether path still names the open file fd.
bool StillNamed(int fd, const std::string &path) {
  struct stat opened {};
  struct stat named {};
  return ::fstat(fd, &opened) == 0 && ::lstat(path.c_str(), &named) == 0 &&
         opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

class PosixFileWriter final : public FileWriter {
public:
  ~PosixFileWriter() override { Close(); }

  bool CreateUnique(const std::string &target) override {
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string path = TemporaryNameFor(target);
      // 0666 less the umask, like any other file the user creates.
      Fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (Fd < 0) {
        if (errno == EEXIST)
          continue;
        break;
      }
      // Between the open and the lock another conversion may have found the
      // file unlocked and removed it: then start again under a new name.
      if (::flock(Fd, LOCK_EX) == 0 && StillNamed(Fd, path)) {
        FilePath = path;
        Ticket = ArmFatalSignalCleanup(path);
        return true;
      }
      ::close(Fd);
      Fd = -1;
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
    DisarmFatalSignalCleanup(Ticket);
    Ticket = -1;
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
  int Ticket = -1;
};

// Removes the temporary at path when no writer holds its lock.
bool RemoveIfDead(const std::string &path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0)
    return false;
  bool removed = ::flock(fd, LOCK_EX | LOCK_NB) == 0 && StillNamed(fd, path) &&
                 ::unlink(path.c_str()) == 0;
  ::close(fd);
  return removed;
}

} // namespace

std::unique_ptr<FileWriter> CreateFileWriter() { return std::make_unique<PosixFileWriter>(); }

int RemoveDeadTemporaries(const std::string &target) {
  namespace fs = std::filesystem;
  fs::path directory = fs::path(target).parent_path();
  const std::string prefix = directory.empty() ? std::string() : directory.string() + "/";
  std::error_code error;
  int removed = 0;
  for (fs::directory_iterator it(directory.empty() ? fs::path(".") : directory, error), end;
       !error && it != end; it.increment(error)) {
    std::string name = it->path().filename().string();
    if (IsTemporaryNameFor(name, target) && RemoveIfDead(prefix + name))
      ++removed;
  }
  return removed;
}

bool ReplaceFileWith(const std::string &from, const std::string &to, uint32_t &error) {
  if (::rename(from.c_str(), to.c_str()) == 0)
    return true;
  error = static_cast<uint32_t>(errno);
  return false;
}

bool RemoveFile(const std::string &path) { return ::unlink(path.c_str()) == 0; }

} // namespace kestrune
