#include "ImageFileReader.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace kestrune {
namespace {

class PosixImageFileReader final : public ImageFileReader {
public:
  ~PosixImageFileReader() override { Close(); }

  bool Open(const std::string &path) override {
    Close();
    Fd = path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (Fd < 0) {
      LastErrorCode = path.empty() ? ENOENT : static_cast<uint32_t>(errno);
      return false;
    }
    ::posix_fadvise(Fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return true;
  }

  bool IsOpen() const override { return Fd >= 0; }

  void Close() override {
    if (Fd >= 0)
      ::close(Fd);
    Fd = -1;
  }

  uint64_t Size() override {
    struct stat st {};
    if (Fd < 0) {
      LastErrorCode = EBADF;
      return UnknownSize;
    }
    if (::fstat(Fd, &st) != 0) {
      LastErrorCode = static_cast<uint32_t>(errno);
      return UnknownSize;
    }
    return static_cast<uint64_t>(st.st_size);
  }

  bool Read(void *data, uint32_t count, uint32_t &received) override {
    received = 0;
    if (Fd < 0) {
      LastErrorCode = EBADF;
      return false;
    }
    auto *bytes = static_cast<unsigned char *>(data);
    while (received < count) {
      ssize_t n = ::read(Fd, bytes + received, count - received);
      if (n == 0)
        break;
      if (n < 0) {
        if (errno == EINTR)
          continue;
        LastErrorCode = static_cast<uint32_t>(errno);
        return false;
      }
      received += static_cast<uint32_t>(n);
    }
    return true;
  }

private:
  int Fd = -1;
};

} // namespace

std::unique_ptr<ImageFileReader> CreateImageFileReader() {
  return std::make_unique<PosixImageFileReader>();
}

uint32_t EndOfFileErrorCode() { return ENODATA; }

void RaiseCurrentThreadPriority() {
  auto tid = static_cast<id_t>(::syscall(SYS_gettid));
  int current = ::getpriority(PRIO_PROCESS, tid);
  ::setpriority(PRIO_PROCESS, tid, current - 1);
}

} // namespace kestrune
