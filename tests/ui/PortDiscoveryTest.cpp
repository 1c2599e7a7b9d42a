// Port discovery over pseudo-terminals: which failed opens mean "absent",
// the order of the lists, KESTRUNE_PORTS, and the Windows naming rule.
#include "platform/PortDiscovery.h"
#include "platform/SerialPort.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace kestrune {
namespace {

struct Pty {
  Pty(bool unlock = true) {
    Master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ::grantpt(Master);
    if (unlock)
      ::unlockpt(Master);
    Path = ::ptsname(Master);
  }
  ~Pty() { ::close(Master); }
  int Master;
  std::string Path;
};

struct PortsVariable {
  explicit PortsVariable(const std::string &value) { ::setenv("KESTRUNE_PORTS", value.c_str(), 1); }
  ~PortsVariable() { ::unsetenv("KESTRUNE_PORTS"); }
};

TEST(PortProbe, NotFoundCodesMeanAbsentOthersMeanPresent) {
  for (int err : {ENOENT, ENXIO, ENODEV, EIO})
    EXPECT_TRUE(IsAbsentPosixPortError(err)) << err;
  for (int err : {EBUSY, EACCES, EPERM, EAGAIN})
    EXPECT_FALSE(IsAbsentPosixPortError(err)) << err;
  EXPECT_TRUE(IsAbsentWindowsPortError(2));
  EXPECT_TRUE(IsAbsentWindowsPortError(31));
  EXPECT_FALSE(IsAbsentWindowsPortError(5));  // access denied: held by another program
  EXPECT_FALSE(IsAbsentWindowsPortError(32)); // sharing violation
}

TEST(PortProbe, FreePortIsPresentMissingDeviceIsAbsent) {
  Pty pty;
  EXPECT_TRUE(ProbePort(pty.Path));
  EXPECT_FALSE(ProbePort("/dev/pts/kestrune-no-such-device"));
}

TEST(PortProbe, LockedPseudoTerminalAnswersIoErrorAndIsAbsent) {
  Pty locked(false);
  int fd = ::open(locked.Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_LT(fd, 0);
  ASSERT_EQ(errno, EIO);
  EXPECT_FALSE(ProbePort(locked.Path));
}

TEST(PortProbe, PortHeldByAnotherProgramIsListed) {
  Pty pty;
  auto holder = CreateSerialPort();
  ASSERT_TRUE(holder->Open(pty.Path));
  // A second exclusive open fails while the port is held...
  auto second = CreateSerialPort();
  EXPECT_FALSE(second->Open(pty.Path));
  // ...yet the port is there.
  EXPECT_TRUE(ProbePort(pty.Path));
  PortsVariable ports(pty.Path);
  EXPECT_EQ(FindCommPorts(HighestPortNumber), std::vector<std::string>{pty.Path});
  // The probe left the holder's claim alone.
  EXPECT_FALSE(second->Open(pty.Path));
}

TEST(PortDiscovery, ListsAreSortedByTextWithoutRepeats) {
  std::vector<std::string> names{"COM2", "COM10", "COM1", "COM24", "COM3", "COM10"};
  SortPortNames(names);
  EXPECT_EQ(names, (std::vector<std::string>{"COM1", "COM10", "COM2", "COM24", "COM3"}));
}

TEST(PortDiscovery, PortsVariableReplacesTheScanExactly) {
  Pty a, b;
  PortsVariable ports(b.Path + "::/dev/pts/kestrune-gone:" + a.Path + ":" + b.Path);
  std::vector<std::string> expected{a.Path, b.Path};
  SortPortNames(expected);
  EXPECT_EQ(FindCommPorts(HighestPortNumber), expected);
}

TEST(PortDiscovery, EmptyPortsVariableMeansNoPorts) {
  PortsVariable ports("");
  EXPECT_TRUE(FindCommPorts(HighestPortNumber).empty());
}

TEST(PortDiscovery, WindowsNamesFromTenOnTakeTheDevicePrefix) {
  EXPECT_EQ(WindowsPortPath("COM1"), "COM1");
  EXPECT_EQ(WindowsPortPath("COM9"), "COM9");
  EXPECT_EQ(WindowsPortPath("COM10"), "\\\\.\\COM10");
  EXPECT_EQ(WindowsPortPath("COM24"), "\\\\.\\COM24");
}

} // namespace
} // namespace kestrune
