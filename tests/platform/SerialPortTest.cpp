#include "platform/SerialPort.h"
#include "tests/support/Pty.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <atomic>
#include <chrono>
#include <future>
#include <vector>
#include <thread>

using namespace kestrune;
using namespace std::chrono;

namespace {

PortSettings Forced(uint32_t rate) {
  PortSettings s;
  s.BaudRate = rate;
  return s;
}

TEST(SerialPort, MissingDeviceFailsWithItsCode) {
  auto port = CreateSerialPort();
  EXPECT_FALSE(port->Open("/dev/kestrune-no-such-port"));
  EXPECT_EQ(port->LastError(), uint32_t(ENOENT));
  EXPECT_FALSE(port->Open(""));
  EXPECT_EQ(port->LastError(), uint32_t(ENOENT));
  EXPECT_FALSE(port->IsOpen());
}

TEST(SerialPort, SecondOpenerIsRefusedUntilTheFirstCloses) {
  test::Pty pty;
  auto first = CreateSerialPort();
  auto second = CreateSerialPort();
  ASSERT_TRUE(first->Open(pty.SlavePath()));
  EXPECT_FALSE(second->Open(pty.SlavePath()));
  EXPECT_EQ(second->LastError(), uint32_t(EBUSY));
  first->Close();
  EXPECT_TRUE(second->Open(pty.SlavePath()));
}

TEST(SerialPort, LineIsRaw8N2WithoutFlowControlAtAnyRate) {
  test::Pty pty;
  auto port = CreateSerialPort();
  ASSERT_TRUE(port->Open(pty.SlavePath()));
  PortSettings before;
  ASSERT_TRUE(port->GetSettings(before));
  for (uint32_t rate : {9600u, 28800u, 115200u, 460800u, 921600u}) {
    ASSERT_TRUE(port->ApplySettings(Forced(rate))) << port->LastError();
    PortSettings seen = pty.HostSettings();
    EXPECT_EQ(seen.BaudRate, rate);
    EXPECT_EQ(seen.ByteSize, 8);
    EXPECT_EQ(seen.StopBits, 2);
    EXPECT_FALSE(seen.ParityCheck);
    EXPECT_FALSE(seen.OutxCtsFlow);
    EXPECT_FALSE(seen.OutX);
    EXPECT_FALSE(seen.InX);
  }
  // Bytes pass unchanged in both directions (no CR/LF mapping, no echo).
  uint32_t written = 0;
  const uint8_t out[] = {0x0D, 0x0A, 0x11, 0x13, 0x03, 0xFF};
  ASSERT_TRUE(port->Write(out, sizeof out, written));
  EXPECT_EQ(pty.ReadAvailable(milliseconds(500)), std::vector<uint8_t>(out, out + sizeof out));
  pty.Write(std::vector<uint8_t>(out, out + sizeof out));
  ASSERT_TRUE(port->ApplyTimeouts({0, 5, 1, 0, 0}));
  uint8_t in[16] = {};
  uint32_t received = 0;
  ASSERT_TRUE(port->Read(in, sizeof out, received));
  EXPECT_EQ(std::vector<uint8_t>(in, in + received), std::vector<uint8_t>(out, out + sizeof out));
}

TEST(SerialPort, ReadReturnsWhatCameWhenItsTotalTimeoutPasses) {
  test::Pty pty;
  auto port = CreateSerialPort();
  ASSERT_TRUE(port->Open(pty.SlavePath()));
  ASSERT_TRUE(port->ApplySettings(Forced(921600)));
  ASSERT_TRUE(port->ApplyTimeouts({0, 5, 1, 0, 0}));
  pty.Write({1, 2, 3});
  std::this_thread::sleep_for(milliseconds(5));
  uint8_t buffer[8];
  uint32_t received = 0;
  auto start = steady_clock::now();
  ASSERT_TRUE(port->Read(buffer, 8, received));
  auto took = duration_cast<milliseconds>(steady_clock::now() - start).count();
  EXPECT_EQ(received, 3u);
  EXPECT_GE(took, 40); // 5 * 8 + 1 ms, counted from the start of the read
  EXPECT_LT(took, 200);

  // A read that gets all it asked for returns at once, long before its
  // total time-out (a second here, so that a loaded machine cannot blur
  // "at once" with "at the time-out").
  ASSERT_TRUE(port->ApplyTimeouts({0, 5, 1000, 0, 0}));
  pty.Write({9});
  start = steady_clock::now();
  ASSERT_TRUE(port->Read(buffer, 1, received));
  EXPECT_EQ(received, 1u);
  EXPECT_LT(duration_cast<milliseconds>(steady_clock::now() - start).count(), 500);
}

TEST(SerialPort, LineThatGoesAwayIsAReadError) {
  test::Pty pty;
  auto port = CreateSerialPort();
  ASSERT_TRUE(port->Open(pty.SlavePath()));
  ASSERT_TRUE(port->ApplySettings(Forced(115200)));
  ASSERT_TRUE(port->ApplyTimeouts({0, 5, 1, 0, 0}));
  pty.CloseMaster();
  uint8_t buffer[8];
  uint32_t received = 0;
  EXPECT_FALSE(port->Read(buffer, 8, received));
  EXPECT_EQ(port->LastError(), uint32_t(EIO));
}

TEST(SerialPort, WriteTheLineCannotTakeGivesUpOnlyWhenStopped) {
  test::Pty pty; // nobody reads the master: the line fills
  auto port = CreateSerialPort();
  std::atomic<bool> stop{false};
  port->SetStopFlag(&stop);
  ASSERT_TRUE(port->Open(pty.SlavePath()));
  ASSERT_TRUE(port->ApplySettings(Forced(115200)));
  std::vector<uint8_t> block(256 * 1024, 0x55);
  uint32_t written = 0;
  auto writing = std::async(std::launch::async, [&] {
    return port->Write(block.data(), uint32_t(block.size()), written);
  });
  EXPECT_EQ(writing.wait_for(milliseconds(300)), std::future_status::timeout)
      << "a write has no time-out of its own";
  const auto stopped = steady_clock::now();
  stop = true;
  if (writing.wait_for(seconds(2)) != std::future_status::ready)
    pty.CloseMaster(); // let the write end before failing the test
  EXPECT_LT(steady_clock::now() - stopped, milliseconds(3 * SerialPort::WriteSliceMs + 100));
  EXPECT_FALSE(writing.get());
  EXPECT_EQ(port->LastError(), uint32_t(ECANCELED));
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, block.size());

  // A stopped run's writes still go out while the line takes them.
  test::Pty other;
  ASSERT_TRUE(port->Open(other.SlavePath()));
  ASSERT_TRUE(port->ApplySettings(Forced(115200)));
  const uint8_t bytes[3] = {0x21, 0x00, 0x15};
  EXPECT_TRUE(port->Write(bytes, 3, written));
  EXPECT_EQ(written, 3u);
  EXPECT_EQ(other.ReadAvailable(milliseconds(500)), std::vector<uint8_t>(bytes, bytes + 3));
}

TEST(PortNames, WindowsPrefixFromComTenOn) {
  EXPECT_EQ(WindowsPortPath("COM9"), "COM9");
  EXPECT_EQ(WindowsPortPath("COM10"), "\\\\.\\COM10");
  EXPECT_EQ(WindowsPortPath(""), "");
}

TEST(PortNames, ComNamesMapToLinuxSerialDevices) {
  EXPECT_EQ(PosixPortPath("COM1"), "/dev/ttyS0");
  EXPECT_EQ(PosixPortPath("COM12"), "/dev/ttyS11");
  EXPECT_EQ(PosixPortPath("/dev/pts/7"), "/dev/pts/7");
  EXPECT_EQ(PosixPortPath("COMX"), "COMX");
  EXPECT_EQ(PosixPortPath("COM0"), "COM0");
}

} // namespace

