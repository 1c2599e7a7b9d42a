// The names a port is listed and kept under: stable names from a fake
// /dev/serial tree built in a temporary directory, the rescans that see
// ports come and go, and the check that two names are one port.
#include "platform/PortList.h"
#include "platform/SharedPorts.h"
#include "platform/StablePortNames.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <unistd.h>

namespace kestrune {
namespace {

namespace fs = std::filesystem;

struct Pty {
  Pty() {
    Master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ::grantpt(Master);
    ::unlockpt(Master);
    Path = ::ptsname(Master);
  }
  ~Pty() { ::close(Master); }
  int Master;
  std::string Path;
};

struct Env {
  Env(const char *name, const std::string &value) : Name(name) {
    if (const char *old = std::getenv(name))
      Previous = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~Env() {
    if (Previous)
      ::setenv(Name.c_str(), Previous->c_str(), 1);
    else
      ::unsetenv(Name.c_str());
  }
  std::string Name;
  std::optional<std::string> Previous;
};

// dev/ttyUSB0..2 stand for the kernel's nodes (plain files open like
// devices do); serial/by-path and serial/by-id hold relative links to them
// as udev makes them.
struct FakeSerialTree : ::testing::Test {
  fs::path Root = fs::temp_directory_path() / ("kestrune-serial-" + std::to_string(::getpid()));
  std::string Slot1 = "pci-0000:00:14.0-usb-0:1:1.0-port0";
  std::string Slot2 = "pci-0000:00:14.0-usb-0:2:1.0-port0";
  std::string Adapter = "usb-Kestrune_Bench_Adapter_K123-if00-port0";

  void SetUp() override {
    fs::remove_all(Root);
    fs::create_directories(Root / "dev");
    fs::create_directories(Root / "serial/by-path");
    fs::create_directories(Root / "serial/by-id");
    for (const char *node : {"ttyUSB0", "ttyUSB1", "ttyUSB2"})
      std::ofstream(Root / "dev" / node) << "";
  }
  void TearDown() override { fs::remove_all(Root); }

  std::string Dev(const char *node) const { return (Root / "dev" / node).string(); }
  std::string Serial() const { return (Root / "serial").string(); }
  std::string ByPath(const std::string &slot) const { return Serial() + "/by-path/" + slot; }
  void Link(const std::string &dir, const std::string &name, const char *node) {
    fs::path link = Root / "serial" / dir / name;
    fs::remove(link);
    fs::create_symlink(fs::path("../../dev") / node, link);
  }
};

TEST_F(FakeSerialTree, LinksAreReadByTheDeviceTheyResolveTo) {
  Link("by-path", Slot1, "ttyUSB1");
  Link("by-id", Adapter, "ttyUSB1");
  Link("by-path", Slot2, "ttyUSB0");
  Link("by-path", "pci-0000:00:14.0-usb-0:9:1.0-port0", "ttyUSB9"); // dangling
  std::map<std::string, StableNames> names = ReadStableNames(Serial());
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[DevicePath(Dev("ttyUSB1"))].ByPath, ByPath(Slot1));
  EXPECT_EQ(names[DevicePath(Dev("ttyUSB1"))].ById, Serial() + "/by-id/" + Adapter);
  EXPECT_EQ(names[DevicePath(Dev("ttyUSB0"))].ByPath, ByPath(Slot2));
  EXPECT_EQ(names[DevicePath(Dev("ttyUSB0"))].ById, "");
  EXPECT_TRUE(ReadStableNames((Root / "none").string()).empty()) << "nothing plugged in";
}

TEST_F(FakeSerialTree, EntriesKeepTheSlotNameAndAnswerForEveryNameOfTheirDevice) {
  Link("by-path", Slot1, "ttyUSB1");
  Link("by-id", Adapter, "ttyUSB1");
  std::vector<PortEntry> entries =
      NamePorts({Dev("ttyUSB0"), Dev("ttyUSB1"), ByPath(Slot1)}, ReadStableNames(Serial()));
  ASSERT_EQ(entries.size(), 2u) << "a link and its device are one port";
  EXPECT_EQ(entries[0].Name, Dev("ttyUSB0"));
  EXPECT_EQ(entries[0].Label(), Dev("ttyUSB0"));
  const PortEntry &usb1 = entries[1];
  EXPECT_EQ(usb1.Name, ByPath(Slot1));
  EXPECT_EQ(usb1.Device, Dev("ttyUSB1"));
  EXPECT_EQ(usb1.Label(), Dev("ttyUSB1") + "  by-path: " + Slot1 + "  by-id: " + Adapter);
  for (const std::string &name : {Dev("ttyUSB1"), ByPath(Slot1), Serial() + "/by-id/" + Adapter,
                                  (Root / "dev/../dev/ttyUSB1").string()})
    EXPECT_TRUE(usb1.Answers(name)) << name;
  for (const std::string &name : {Dev("ttyUSB0"), ByPath(Slot2), std::string()})
    EXPECT_FALSE(usb1.Answers(name)) << name;
}

TEST_F(FakeSerialTree, AdapterWithAnIdOnlyIsKeptUnderItsId) {
  Link("by-id", Adapter, "ttyUSB2");
  std::vector<PortEntry> entries = NamePorts({Dev("ttyUSB2")}, ReadStableNames(Serial()));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].Name, Serial() + "/by-id/" + Adapter);
}

TEST_F(FakeSerialTree, ScannerFollowsTheSlotAcrossAReplug) {
  Env ports("KESTRUNE_PORTS", Dev("ttyUSB0") + ":" + Dev("ttyUSB1"));
  Env root("KESTRUNE_SERIAL_ROOT", Serial());
  Link("by-path", Slot1, "ttyUSB0");
  PortScanner scanner;
  std::vector<PortEntry> before = scanner.Scan();
  ASSERT_EQ(before.size(), 2u);
  EXPECT_EQ(before[0].Name, ByPath(Slot1));
  EXPECT_EQ(before[0].Device, Dev("ttyUSB0"));
  // Replugged in the other order: the kernel names swap, the slot does not.
  Link("by-path", Slot1, "ttyUSB1");
  std::vector<PortEntry> after = scanner.Scan();
  ASSERT_EQ(after.size(), 2u);
  EXPECT_EQ(after[0].Name, Dev("ttyUSB0"));
  EXPECT_EQ(after[1].Name, ByPath(Slot1));
  EXPECT_EQ(after[1].Device, Dev("ttyUSB1"));
}

TEST_F(FakeSerialTree, ScannerSeesAPseudoTerminalComeAndGo) {
  std::string slot = (Root / "slot").string();
  Env ports("KESTRUNE_PORTS", slot);
  Env root("KESTRUNE_SERIAL_ROOT", Serial());
  PortScanner scanner;
  EXPECT_TRUE(scanner.Scan().empty());
  auto pty = std::make_unique<Pty>();
  fs::create_symlink(pty->Path, slot);
  std::vector<PortEntry> present = scanner.Scan();
  ASSERT_EQ(present.size(), 1u);
  EXPECT_EQ(present[0].Name, slot);
  EXPECT_EQ(scanner.Scan().size(), 1u) << "a port seen before stays while its node exists";
  // Gone: the terminal and the name that led to it (another program may
  // take the pseudo-terminal's number at once).
  pty.reset();
  fs::remove(slot);
  EXPECT_TRUE(scanner.Scan().empty());
}

TEST_F(FakeSerialTree, SamePortSeesThroughLinksAndLeavesOtherPortsApart) {
  Link("by-path", Slot1, "ttyUSB1");
  EXPECT_TRUE(SamePort(Dev("ttyUSB1"), Dev("ttyUSB1")));
  EXPECT_TRUE(SamePort(ByPath(Slot1), Dev("ttyUSB1")));
  EXPECT_FALSE(SamePort(ByPath(Slot1), Dev("ttyUSB0")));
  EXPECT_TRUE(SamePort("/dev/kestrune-gone", "/dev/kestrune-gone")) << "absent, same text";
  EXPECT_FALSE(SamePort("/dev/kestrune-gone", "/dev/kestrune-gone2"));
  Pty a, b;
  EXPECT_FALSE(SamePort(a.Path, b.Path));
}

TEST(StablePortNames, RootIsDevSerialUnlessTheEnvironmentNamesAnother) {
  {
    Env root("KESTRUNE_SERIAL_ROOT", "/tmp/kestrune-fake-serial");
    EXPECT_EQ(SerialLinkRoot(), "/tmp/kestrune-fake-serial");
  }
  Env root("KESTRUNE_SERIAL_ROOT", "");
  EXPECT_EQ(SerialLinkRoot(), "/dev/serial");
}

} // namespace
} // namespace kestrune
