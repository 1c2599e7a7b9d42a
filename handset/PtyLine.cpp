#include "handset/PtyLine.h"

#include "platform/Termios2.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kestrune::handset {
namespace {

std::string ErrorText(const char *what) {
  return std::string(what) + ": " + std::strerror(errno) + " (" + std::to_string(errno) + ")";
}

void CloseFd(int &fd) {
  if (fd >= 0)
    ::close(fd);
  fd = -1;
}

} // namespace

bool PtyLine::Create(std::string &error) {
  MasterFd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (MasterFd < 0 || ::grantpt(MasterFd) != 0 || ::unlockpt(MasterFd) != 0) {
    error = ErrorText("cannot create a pseudo-terminal");
    Close();
    return false;
  }
  char name[128];
  if (::ptsname_r(MasterFd, name, sizeof name) != 0) {
    error = ErrorText("cannot name the pseudo-terminal");
    Close();
    return false;
  }
  Path = name;
  // Raw before any host opens, so nothing the handset sends is echoed back.
  MakeRaw(MasterFd);
  OwnSlaveFd = ::open(Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (OwnSlaveFd < 0) {
    error = ErrorText("cannot hold the pseudo-terminal's slave");
    Close();
    return false;
  }
  InotifyFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (InotifyFd < 0 ||
      ::inotify_add_watch(InotifyFd, Path.c_str(), IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
    error = ErrorText("cannot watch the pseudo-terminal's slave");
    Close();
    return false;
  }
  return true;
}

void PtyLine::Close() {
  CloseFd(InotifyFd);
  CloseFd(OwnSlaveFd);
  CloseFd(MasterFd);
  Openers = 0;
}

HostLine PtyLine::SampleHost() const {
  HostLine host;
  LineRecord record;
  termios plain{};
  if (MasterFd < 0 || !GetLineRecord(MasterFd, record) || ::tcgetattr(MasterFd, &plain) != 0)
    return host;
  PortSettings settings = DescribeLineRecord(record);
  host.Known = true;
  host.Rate = settings.BaudRate;
  host.DataBits = settings.ByteSize;
  host.StopBits = settings.StopBits;
  host.Parity = (plain.c_cflag & PARENB) != 0;
  return host;
}

std::vector<PtyLine::HostChange> PtyLine::ReadHostChanges() {
  std::vector<HostChange> changes;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    ssize_t n = ::read(InotifyFd, buffer, sizeof buffer);
    if (n <= 0)
      break;
    for (ssize_t at = 0; at < n;) {
      const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
      at += ssize_t(sizeof(inotify_event) + event->len);
      if (event->mask & IN_OPEN) {
        if (Openers++ == 0)
          changes.push_back(HostChange::Opened);
      }
      if (event->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
        if (Openers > 0 && --Openers == 0)
          changes.push_back(HostChange::Closed);
      }
    }
  }
  return changes;
}

void PtyLine::ForgetHost() {
  char scratch[4096];
  while (::read(MasterFd, scratch, sizeof scratch) > 0) {
  }
  ::tcflush(OwnSlaveFd, TCIFLUSH);
  ::ioctl(OwnSlaveFd, TIOCNXCL);
}

bool DeviceLine::Open(const std::string &path, uint32_t rate, std::string &error) {
  DeviceFd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (DeviceFd < 0) {
    error = ErrorText(("cannot open " + path).c_str());
    return false;
  }
  if (!SetRate(rate, error)) {
    Close();
    return false;
  }
  ::tcflush(DeviceFd, TCIOFLUSH);
  return true;
}

bool DeviceLine::SetRate(uint32_t rate, std::string &error) {
  // The handset's UART has no parity; the shared settings code keeps the
  // port's parity scheme, so it is cleared here first.
  termios plain{};
  if (::tcgetattr(DeviceFd, &plain) == 0 && (plain.c_cflag & PARENB)) {
    plain.c_cflag &= ~tcflag_t(PARENB | PARODD);
    ::tcsetattr(DeviceFd, TCSANOW, &plain);
  }
  LineRecord record;
  if (!GetLineRecord(DeviceFd, record)) {
    error = ErrorText("cannot read the line settings");
    return false;
  }
  PortSettings settings;
  settings.BaudRate = rate;
  ForceLineSettings(record, settings);
  if (!SetLineRecord(DeviceFd, record)) {
    error = ErrorText("cannot set the line settings");
    return false;
  }
  return true;
}

void DeviceLine::Drain() {
  while (::tcdrain(DeviceFd) != 0 && errno == EINTR) {
  }
}

void DeviceLine::Close() { CloseFd(DeviceFd); }

} // namespace kestrune::handset
