#include "platform/RegularFileReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kestrune {
namespace {

const char *KindOf(mode_t mode) {
  if (S_ISFIFO(mode))
    return "a FIFO";
  if (S_ISCHR(mode))
    return "a character device";
  if (S_ISBLK(mode))
    return "a block device";
  if (S_ISSOCK(mode))
    return "a socket";
  return "not a regular file";
}

class PosixRegularFileReader final : public RegularFileReader {
public:
  ~PosixRegularFileReader() override { Close(); }

  bool Open(const std::string &path) override {
    Close();
    Kind.clear();
    Directory = false;
    FileSize = 0;
    // Without O_NONBLOCK, opening a FIFO would wait for a writer.
    Fd = path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (Fd < 0)
      return Fail(path.empty() ? ENOENT : errno);
    struct stat st {};
    if (::fstat(Fd, &st) != 0)
      return Fail(errno);
    if (S_ISDIR(st.st_mode)) {
      Directory = true;
      return Fail(EISDIR);
    }
    if (!S_ISREG(st.st_mode)) {
      Kind = KindOf(st.st_mode);
      return Fail(0);
    }
    int flags = ::fcntl(Fd, F_GETFL);
    if (flags < 0 || ::fcntl(Fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
      return Fail(errno);
    FileSize = static_cast<uint64_t>(st.st_size);
    ::posix_fadvise(Fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return true;
  }

  void Close() override {
    if (Fd >= 0)
      ::close(Fd);
    Fd = -1;
  }

  bool Read(void *data, size_t count, size_t &received) override {
    received = 0;
    if (Fd < 0)
      return Fail(EBADF);
    for (;;) {
      ssize_t n = ::read(Fd, data, count);
      if (n >= 0) {
        received = static_cast<size_t>(n);
        return true;
      }
      if (errno != EINTR) {
        LastErrorCode = static_cast<uint32_t>(errno);
        return false;
      }
    }
  }

  bool Rewind() override {
    if (Fd >= 0 && ::lseek(Fd, 0, SEEK_SET) == 0)
      return true;
    LastErrorCode = static_cast<uint32_t>(Fd < 0 ? EBADF : errno);
    return false;
  }

private:
  bool Fail(int code) {
    LastErrorCode = static_cast<uint32_t>(code);
    Close();
    return false;
  }

  int Fd = -1;
};

} // namespace

std::unique_ptr<RegularFileReader> CreateRegularFileReader() {
  return std::make_unique<PosixRegularFileReader>();
}

} // namespace kestrune
