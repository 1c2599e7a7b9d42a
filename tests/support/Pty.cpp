#include "tests/support/Pty.h"

#include "platform/Termios2.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace kestrune::test {

Pty::Pty() {
  MasterFd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (MasterFd < 0 || ::grantpt(MasterFd) != 0 || ::unlockpt(MasterFd) != 0)
    throw std::runtime_error("cannot create a pseudo-terminal");
  Path = ::ptsname(MasterFd);
  // Nothing the test writes may come back as an echo before the host opens.
  MakeRaw(MasterFd);
}

Pty::~Pty() { CloseMaster(); }

void Pty::CloseMaster() {
  if (MasterFd >= 0)
    ::close(MasterFd);
  MasterFd = -1;
}

PortSettings Pty::HostSettings() const {
  LineRecord record;
  GetLineRecord(MasterFd, record);
  return DescribeLineRecord(record);
}

std::vector<uint8_t> Pty::ReadAvailable(std::chrono::milliseconds timeout) {
  std::vector<uint8_t> bytes;
  pollfd p{MasterFd, POLLIN, 0};
  int waitMs = int(timeout.count());
  while (::poll(&p, 1, waitMs) > 0 && (p.revents & POLLIN)) {
    uint8_t buffer[4096];
    ssize_t n = ::read(MasterFd, buffer, sizeof buffer);
    if (n <= 0)
      break;
    bytes.insert(bytes.end(), buffer, buffer + n);
    waitMs = 0;
  }
  return bytes;
}

void Pty::Write(const std::vector<uint8_t> &bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(MasterFd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      throw std::runtime_error("write to pseudo-terminal failed");
    done += size_t(n);
  }
}

} // namespace kestrune::test
