// POSIX serial port: exclusive open, raw 8N2 lines through termios2, reads
// with the total time-out rule of CommTimeouts, writes that a stop ends.
#include "SerialPort.h"
#include "LowLatency.h"
#include "Termios2.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace kestrune {
namespace {

using Clock = std::chrono::steady_clock;

// Modem-line requests are refused by pseudo-terminals and some adapters;
// that is no failure of the port.
bool IsNotSupported(int err) { return err == ENOTTY || err == EINVAL || err == ENOTSUP; }

// Pseudo-terminal slaves (Unix 98 ptys) have character majors 136 to 143.
bool IsPseudoTerminal(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 &&
         major(st.st_rdev) <= 143;
}

class PosixSerialPort final : public SerialPort {
public:
  ~PosixSerialPort() override { Close(); }

  bool Open(const std::string &portText) override {
    Close();
    std::string path = PosixPortPath(portText);
    if (path.empty())
      return Fail(ENOENT);
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
      return Fail(errno);
    // TIOCEXCL keeps other users out; root passes it, so a non-blocking lock
    // is what makes a second opener fail everywhere.
    if (::ioctl(fd, TIOCEXCL) != 0 && !IsNotSupported(errno)) {
      int err = errno;
      ::close(fd);
      return Fail(err);
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      int err = errno == EWOULDBLOCK ? EBUSY : errno;
      ::close(fd);
      return Fail(err);
    }
    Fd = fd;
    HaveRecord = false;
    PseudoTerminal = IsPseudoTerminal(fd);
    // Every answer of the handset is a byte or a few; an adapter that
    // holds them back to fill its USB packets adds its latency to each.
    // Ports without the mode (pseudo-terminals) keep working as they are.
    RequestLowLatency(fd);
    return true;
  }

  bool IsOpen() const override { return Fd >= 0; }

  void Close() override {
    if (Fd < 0)
      return;
    ::flock(Fd, LOCK_UN);
    ::close(Fd);
    Fd = -1;
  }

  bool SetQueueSizes(uint32_t, uint32_t) override {
    // The kernel's buffers are fixed; only a closed port is an error.
    return Fd >= 0 ? true : Fail(EBADF);
  }

  bool GetSettings(PortSettings &settings) override {
    if (Fd < 0)
      return Fail(EBADF);
    if (!GetLineRecord(Fd, Record))
      return Fail(errno);
    HaveRecord = true;
    settings = DescribeLineRecord(Record);
    return true;
  }

  bool ApplySettings(const PortSettings &settings) override {
    if (Fd < 0)
      return Fail(EBADF);
    if (!HaveRecord) {
      if (!GetLineRecord(Fd, Record))
        return Fail(errno);
      HaveRecord = true;
    }
    ForceLineSettings(Record, settings);
    if (!SetLineRecord(Fd, Record))
      return Fail(errno);
    return SetModemLines(settings.DtrOn, settings.RtsOn);
  }

  bool AcceptsRate(uint32_t rate) override {
    if (Fd < 0)
      return Fail(EBADF);
    LineRecord present;
    if (!GetLineRecord(Fd, present))
      return Fail(errno);
    LineRecord trial = present;
    PortSettings settings = DescribeLineRecord(present);
    settings.BaudRate = rate;
    ForceLineSettings(trial, settings);
    if (!SetLineRecord(Fd, trial))
      return Fail(errno);
    return SetLineRecord(Fd, present) ? true : Fail(errno);
  }

  bool ApplyTimeouts(const CommTimeouts &timeouts) override {
    if (Fd < 0)
      return Fail(EBADF);
    Timeouts = timeouts;
    return true;
  }

  bool Purge(bool output, bool input) override {
    if (Fd < 0)
      return Fail(EBADF);
    // A pseudo-terminal hands every byte to the other end as it is written:
    // nothing waits to be sent, and an output flush there would take back
    // bytes the other end has not read yet, which no serial line can do.
    if (PseudoTerminal)
      output = false;
    int which = output && input ? TCIOFLUSH : output ? TCOFLUSH : TCIFLUSH;
    if ((output || input) && ::tcflush(Fd, which) != 0)
      return Fail(errno);
    return true;
  }

  bool Drain() override {
    if (Fd < 0)
      return Fail(EBADF);
    while (::tcdrain(Fd) != 0) {
      if (errno != EINTR)
        return Fail(errno);
    }
    return true;
  }

  void ClearErrors() override {}

  bool Write(const void *data, uint32_t count, uint32_t &written) override {
    written = 0;
    if (Fd < 0)
      return Fail(EBADF);
    auto *bytes = static_cast<const unsigned char *>(data);
    while (written < count) {
      ssize_t n = ::write(Fd, bytes + written, count - written);
      if (n > 0) {
        written += static_cast<uint32_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR)
        continue;
      if (n < 0 && errno != EAGAIN)
        return Fail(errno);
      // The line takes no more for now: wait a slice, unless the run has
      // been stopped (a frozen reader would hold the write for ever).
      if (StopWanted())
        return Fail(ECANCELED);
      pollfd p{Fd, POLLOUT, 0};
      int r = ::poll(&p, 1, WriteSliceMs);
      if (r < 0 && errno != EINTR)
        return Fail(errno);
      if (r > 0 && (p.revents & (POLLERR | POLLNVAL)))
        return Fail(EIO);
    }
    return true;
  }

  bool Read(void *data, uint32_t count, uint32_t &received) override {
    received = 0;
    if (Fd < 0)
      return Fail(EBADF);
    auto *bytes = static_cast<unsigned char *>(data);
    uint64_t totalMs = uint64_t(Timeouts.ReadTotalMultiplier) * count + Timeouts.ReadTotalConstant;
    bool forever = totalMs == 0 && Timeouts.ReadInterval == 0;
    auto deadline = Clock::now() + std::chrono::milliseconds(totalMs);
    while (received < count) {
      ssize_t n = ::read(Fd, bytes + received, count - received);
      if (n > 0) {
        received += static_cast<uint32_t>(n);
        continue;
      }
      if (n == 0)
        return Fail(EIO); // the other end hung up: the line is gone
      if (errno == EINTR)
        continue;
      if (errno != EAGAIN)
        return Fail(errno);
      int waitMs = -1;
      if (!forever) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
          break;
        waitMs = static_cast<int>(left);
      }
      pollfd p{Fd, POLLIN, 0};
      int r = ::poll(&p, 1, waitMs);
      if (r < 0 && errno != EINTR)
        return Fail(errno);
      if (r > 0 && !(p.revents & POLLIN) && (p.revents & (POLLHUP | POLLERR | POLLNVAL)))
        return Fail(EIO);
    }
    return true;
  }

private:
  bool Fail(int err) {
    LastErrorCode = static_cast<uint32_t>(err);
    return false;
  }

  bool SetModemLines(bool dtr, bool rts) {
    int on = (dtr ? TIOCM_DTR : 0) | (rts ? TIOCM_RTS : 0);
    int off = (dtr ? 0 : TIOCM_DTR) | (rts ? 0 : TIOCM_RTS);
    if (off && ::ioctl(Fd, TIOCMBIC, &off) != 0 && !IsNotSupported(errno))
      return Fail(errno);
    if (on && ::ioctl(Fd, TIOCMBIS, &on) != 0 && !IsNotSupported(errno))
      return Fail(errno);
    return true;
  }

  int Fd = -1;
  bool PseudoTerminal = false;
  LineRecord Record;
  bool HaveRecord = false;
  CommTimeouts Timeouts;
};

} // namespace

std::unique_ptr<SerialPort> CreateSerialPort() { return std::make_unique<PosixSerialPort>(); }

} // namespace kestrune
