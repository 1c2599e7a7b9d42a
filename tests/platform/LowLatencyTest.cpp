// Low-latency mode: asked of every port at open, skipped without a word by
// ports that have no such mode. (No <termios.h> here: <linux/serial.h>
// is included instead.)
#include "platform/LowLatency.h"
#include "platform/SerialPort.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/serial.h>
#include <cstdlib>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace kestrune;

namespace {

TEST(LowLatency, APseudoTerminalHasNoSuchModeAndStillOpens) {
  int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const std::string slave = ::ptsname(master);
  int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(RequestLowLatency(fd), LowLatencyResult::NotSupported);
  ::close(fd);
  auto port = CreateSerialPort();
  EXPECT_TRUE(port->Open(slave)) << port->LastError();
  port->Close();
  ::close(master);
}

TEST(LowLatency, ARealSerialDriverIsPutInLowLatencyMode) {
  // Only on a serial port named for the purpose: tests never open the
  // machine's own devices unasked (on these machines /dev/ttyS0 is the
  // system console).
  const char *device = std::getenv("KESTRUNE_TEST_SERIAL_DEVICE");
  if (device == nullptr || *device == '\0')
    GTEST_SKIP() << "set KESTRUNE_TEST_SERIAL_DEVICE to a serial port this test may use";
  int probe = ::open(device, O_RDWR | O_NOCTTY | O_NONBLOCK);
  serial_struct before{};
  if (probe < 0 || ::ioctl(probe, TIOCGSERIAL, &before) != 0) {
    if (probe >= 0)
      ::close(probe);
    GTEST_SKIP() << device << " is not a serial port this test can use";
  }
  // Start from the driver's default, so the port's open has work to do.
  serial_struct cleared = before;
  cleared.flags &= ~ASYNC_LOW_LATENCY;
  bool canClear = ::ioctl(probe, TIOCSSERIAL, &cleared) == 0;
  auto port = CreateSerialPort();
  ASSERT_TRUE(port->Open(device)) << port->LastError();
  serial_struct after{};
  ASSERT_EQ(::ioctl(probe, TIOCGSERIAL, &after), 0);
  EXPECT_TRUE(after.flags & ASYNC_LOW_LATENCY) << "cleared first: " << canClear;
  port->Close();
  ::ioctl(probe, TIOCSSERIAL, &before);
  ::close(probe);
}

} // namespace
