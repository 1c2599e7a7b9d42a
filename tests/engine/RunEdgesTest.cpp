// The worker's port calls in their order and with their pauses, at open and
// at the switch to the chosen speed; and a run whose step throws, which
// must still close what it holds and still tell its panel it has ended.
#include "engine/CommsThread.h"
#include "engine/LineSpeed.h"
#include "image/ImageState.h"
#include "platform/TimerResolution.h"
#include "tests/support/FakeSerialPort.h"
#include "tests/support/TestPanel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace kestrune;
using namespace kestrune::test;
using namespace std::chrono;
using Bytes = std::vector<uint8_t>;
using Op = FakeSerialPort::Op;
namespace fs = std::filesystem;

namespace {

// Answers the boot call, the RAM program, the identification request, the
// map command and the flash type request; then, if asked, makes the next
// write throw (the image file is open by then).
void ScriptHandshake(FakeSerialPort &port, bool throwAfterFlashType) {
  std::weak_ptr<FakeSerialPort::State> weak = port.Shared;
  auto chunks = std::make_shared<int>(0);
  auto previous = std::make_shared<Bytes>();
  auto flashTypeNext = std::make_shared<bool>(false);
  port.Shared->SetResponder([=](const Bytes &bytes) {
    auto s = weak.lock();
    Bytes last = std::exchange(*previous, bytes);
    if (*flashTypeNext) {
      *flashTypeNext = false;
      s->Answer({0x21});
      std::lock_guard lock(s->Mutex);
      s->Throws[Op::Write] = throwAfterFlashType;
      return;
    }
    if (bytes == Bytes{0x45})
      s->Answer({0x43});
    if (bytes.size() == 256 && ++*chunks == 23)
      s->Answer({0x21});
    if (bytes == Bytes{0x00} && last == Bytes{0x21} && *chunks == 23)
      for (int i = 0; i < 10; ++i)
        s->Answer({0x42});
    if (bytes == Bytes{0x01, 0x00, 0x00, 0x00} && last == Bytes{0x02})
      s->Answer({0x01});
    if (bytes == Bytes{0x00, 0xFE, 0x00, 0x00})
      *flashTypeNext = true;
  });
}

std::vector<Op> Operations(const std::vector<FakeSerialPort::Call> &calls) {
  std::vector<Op> ops;
  for (const auto &call : calls)
    ops.push_back(call.Operation);
  return ops;
}

TEST(RunEdges, PortCallsAtOpenAndAtTheSpeedSwitchComeInTheirOrder) {
  WorkerHarness h;
  TestPanel &panel = h.AddPanel("COM4", ButtonsForRow(SpeedRow460K));
  auto port = std::make_unique<FakeSerialPort>();
  auto line = port->Shared;
  ScriptHandshake(*port, false);
  steady_clock::time_point textShown;
  panel.OnText = [&](const std::string &text) {
    if (text == "Port set to 460800 baud")
      textShown = steady_clock::now();
  };
  h.Start(1, std::move(port));
  ASSERT_TRUE(h.ServeUntil([&] { return panel.Saw("Waiting for ACK of flash type"); }));
  h.Worker(1)->RequestStop();
  ASSERT_TRUE(h.ServeUntilAllEnded());

  std::vector<FakeSerialPort::Call> calls;
  {
    std::lock_guard lock(line->Mutex);
    calls = line->Calls;
  }
  std::vector<Op> ops = Operations(calls);
  ASSERT_GE(ops.size(), 6u);
  EXPECT_EQ(std::vector<Op>(ops.begin(), ops.begin() + 6),
            (std::vector<Op>{Op::Open, Op::Setup, Op::GetSettings, Op::ApplySettings,
                             Op::ApplyTimeouts, Op::Purge}));
  EXPECT_EQ(line->Rates.front(), 9600u);

  // The switch: drain, 10 ms, the new rate, purge, the text, 10 ms, then
  // the identification request.
  auto drain = std::find(ops.begin(), ops.end(), Op::Drain);
  ASSERT_NE(drain, ops.end());
  size_t i = size_t(drain - ops.begin());
  ASSERT_GE(ops.size(), i + 4);
  EXPECT_EQ(std::vector<Op>(ops.begin() + long(i), ops.begin() + long(i) + 4),
            (std::vector<Op>{Op::Drain, Op::ApplySettings, Op::Purge, Op::Write}));
  EXPECT_EQ(line->Rates, (std::vector<uint32_t>{9600, 28800, 460800}));
  EXPECT_GE(calls[i + 1].At - calls[i].At, milliseconds(10));
  EXPECT_LE(calls[i + 2].At, textShown);
  EXPECT_GE(calls[i + 3].At - textShown, milliseconds(10));
  EXPECT_EQ(std::count(ops.begin(), ops.end(), Op::Drain), 1);
  EXPECT_EQ(ops.back(), Op::Close);
}

// A port whose driver refuses the chosen rate: the run ends before the
// speed code goes out, so the handset stays at the boot rate, and says why.
TEST(RunEdges, RateThePortRefusesEndsTheRunBeforeTheSpeedCode) {
  WorkerHarness h;
  TestPanel &panel = h.AddPanel("COM4", ButtonsForRow(SpeedRow920K));
  auto port = std::make_unique<FakeSerialPort>();
  auto line = port->Shared;
  ScriptHandshake(*port, false);
  line->Failures[Op::AcceptsRate] = 87;
  h.Start(1, std::move(port));
  ASSERT_TRUE(h.ServeUntilAllEnded());

  EXPECT_EQ(panel.LastText(), "ERROR Port cannot run at 921600 baud (87)");
  EXPECT_EQ(panel.FinalStopCode, 87u);
  EXPECT_EQ(line->Rates, (std::vector<uint32_t>{9600, 28800}));
  std::vector<Op> ops = Operations(line->Calls);
  auto check = std::find(ops.begin(), ops.end(), Op::AcceptsRate);
  ASSERT_NE(check, ops.end());
  EXPECT_EQ(std::count(check, ops.end(), Op::Write), 0) << "nothing is sent after the check";
  EXPECT_TRUE(line->Closed);
}

// The check comes after the RAM program's answer and before the speed
// code; the finer system timer is held exactly while the worker runs.
TEST(RunEdges, RateIsCheckedBeforeTheSpeedCodeAndTimerIsHeldWhileRunning) {
  WorkerHarness h;
  TestPanel &panel = h.AddPanel("COM4", ButtonsForRow(SpeedRow460K));
  auto port = std::make_unique<FakeSerialPort>();
  auto line = port->Shared;
  ScriptHandshake(*port, false);
  EXPECT_EQ(FineTimer::Holders(), 0);
  h.Start(1, std::move(port));
  ASSERT_TRUE(h.ServeUntil([&] { return panel.Saw("Waiting for ACK of flash type"); }));
  EXPECT_EQ(FineTimer::Holders(), 1);
  h.Worker(1)->RequestStop();
  ASSERT_TRUE(h.ServeUntilAllEnded());
  EXPECT_EQ(FineTimer::Holders(), 0);

  std::lock_guard lock(line->Mutex);
  std::vector<Op> ops = Operations(line->Calls);
  auto check = std::find(ops.begin(), ops.end(), Op::AcceptsRate);
  ASSERT_NE(check, ops.end());
  EXPECT_EQ(std::count(ops.begin(), ops.end(), Op::AcceptsRate), 1);
  // Writes before it: boot calls, the RAM program; the speed code after.
  size_t writesBefore = size_t(std::count(ops.begin(), check, Op::Write));
  ASSERT_LT(writesBefore + 2, line->Writes.size());
  EXPECT_EQ(line->Writes[writesBefore + 1], (Bytes{0x01, 0x00, 0x00, 0x00}));
  EXPECT_EQ(line->Writes[writesBefore + 2], Bytes{SpeedCodeTable[SpeedRow460K]});
}

// The descriptors of this process that refer to path.
int OpenDescriptorsOf(const fs::path &path) {
  int count = 0;
  std::error_code error;
  for (const auto &entry : fs::directory_iterator("/proc/self/fd", error)) {
    std::error_code ignored;
    if (fs::read_symlink(entry.path(), ignored) == path)
      ++count;
  }
  return count;
}

TEST(RunEdges, StepThatThrowsStillClosesPortAndImageAndEndsTheRun) {
  if (!fs::exists("/proc/self/fd"))
    GTEST_SKIP() << "no /proc/self/fd to look for open files in";
  fs::path image = fs::temp_directory_path() / ("kestrune-throw-" + std::to_string(::getpid()) + ".bin");
  std::ofstream(image, std::ios::binary) << std::string(40000, '\x5A');
  std::string error;
  LoadedImageReady.Set(ReadImageBytes(image.string(), {}, image.string(), true, error));

  // Thrown while the boot ROM is called, and while the image is open.
  for (bool duringProgramming : {false, true}) {
    SCOPED_TRACE(duringProgramming ? "programming" : "boot call");
    WorkerHarness h;
    TestPanel &panel = h.AddPanel("COM4");
    auto port = std::make_unique<FakeSerialPort>();
    auto line = port->Shared;
    if (duringProgramming)
      ScriptHandshake(*port, true);
    else
      line->Throws[Op::Read] = true;
    h.Start(1, std::move(port));
    ASSERT_TRUE(h.ServeUntilAllEnded());
    EXPECT_TRUE(panel.Terminated);
    EXPECT_TRUE(line->Closed);
    EXPECT_FALSE(line->Open);
    EXPECT_EQ(OpenDescriptorsOf(image), 0);
    EXPECT_EQ(panel.Saw("Starting flash write"), duringProgramming);
    EXPECT_EQ(panel.LastText(), "ERROR injected failure (0)");
    EXPECT_EQ(panel.FinalStopCode, StopCodeGeneralFailure);
    EXPECT_EQ(panel.Colours.back(), StatusColour::Done);
  }
  EXPECT_EQ(TCommsThread::LiveWorkers(), 0);
  fs::remove(image);
}

} // namespace
