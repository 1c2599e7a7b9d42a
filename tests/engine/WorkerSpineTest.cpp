// The worker's run as a whole: opening, reporting, stopping and ending,
// against pseudo-terminals and ports with injected failures.
#include "engine/CommsThread.h"
#include "engine/LineSpeed.h"
#include "tests/support/FakeSerialPort.h"
#ifndef _WIN32
#include "tests/support/Pty.h"
#endif
#include "tests/support/TestPanel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

using namespace kestrune;
using namespace kestrune::test;
using namespace std::chrono;
using Op = FakeSerialPort::Op;

namespace {

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr auto StopBound = milliseconds(500);
#else
constexpr auto StopBound = milliseconds(50);
#endif

const std::string CantOpen = "해당 COMM port 를 열 수 없습니다.";

TEST(WorkerSpine, MissingPortIsReportedAndNothingElseHappens) {
  WorkerHarness h;
#ifdef _WIN32
  TestPanel &panel = h.AddPanel("COM250");
#else
  TestPanel &panel = h.AddPanel("/dev/kestrune-no-such-port");
#endif
  h.Start(1);
  ASSERT_TRUE(h.ServeUntilAllEnded());
  EXPECT_TRUE(panel.Terminated);
  EXPECT_EQ(panel.Texts, std::vector<std::string>{"ERROR " + CantOpen + " (2)"});
  EXPECT_EQ(panel.Colours, (std::vector<StatusColour>{StatusColour::Busy, StatusColour::Done}));
  EXPECT_EQ(panel.FinalStopCode, 2u);
}

#ifndef _WIN32
// Over a pseudo-terminal (Linux). On Windows the real port is exercised by
// the download test under Wine (tests/wine).
TEST(WorkerSpine, OpensAt9600ThenCallsTheBootRomAt28800WithPollingTimeouts) {
  Pty pty;
  WorkerHarness h;
  TestPanel &panel = h.AddPanel(pty.SlavePath());
  auto recording = std::make_unique<RecordingSerialPort>(CreateSerialPort());
  auto log = recording->Record;
  PortSettings atBootCall;
  panel.OnText = [&](const std::string &text) {
    if (text == "전원 On/Reset Mobile")
      atBootCall = pty.HostSettings();
  };
  h.Start(1, std::move(recording));
  ASSERT_TRUE(h.ServeUntil([&] { return panel.Saw("전원 On/Reset Mobile"); }));
  // The boot ROM is called with "E" until it answers.
  std::vector<uint8_t> calls;
  h.ServeUntil([&] {
    auto bytes = pty.ReadAvailable(milliseconds(5));
    calls.insert(calls.end(), bytes.begin(), bytes.end());
    return calls.size() >= 3;
  });
  ASSERT_GE(calls.size(), 3u);
  for (uint8_t b : calls)
    EXPECT_EQ(b, 0x45);
  EXPECT_EQ(atBootCall.BaudRate, 28800u);
  EXPECT_EQ(atBootCall.StopBits, 2);
  EXPECT_EQ(atBootCall.ByteSize, 8);
  EXPECT_FALSE(atBootCall.OutxCtsFlow);

  h.Worker(1)->RequestStop();
  ASSERT_TRUE(h.ServeUntilAllEnded());
  EXPECT_EQ(log->Rates, (std::vector<uint32_t>{9600, 28800}));
  ASSERT_EQ(log->Timeouts.size(), 2u);
  EXPECT_EQ(log->Timeouts[0].ReadTotalMultiplier, 400u);
  EXPECT_EQ(log->Timeouts[0].ReadTotalConstant, 50u);
  EXPECT_EQ(log->Timeouts[1].ReadTotalMultiplier, 5u);
  EXPECT_EQ(log->Timeouts[1].ReadTotalConstant, 1u);
  EXPECT_TRUE(log->Closed);
  EXPECT_EQ(panel.Texts.front(), "Opened COMM port");
  EXPECT_EQ(panel.LastText(), "COMM Closed");
}

// Stop while the worker waits: the run ends quickly, sends nothing more and
// ends with the channel's own closing text.
void ExpectStopDuringBootCallEndsWith(int channel, const std::string &closing) {
  Pty pty;
  WorkerHarness h;
  for (int i = 1; i < channel; ++i)
    h.AddPanel("");
  TestPanel &panel = h.AddPanel(pty.SlavePath());
  h.Start(channel);
  ASSERT_TRUE(h.ServeUntil([&] { return panel.Saw("전원 On/Reset Mobile"); }));
  h.ServeUntil([] { return false; }, milliseconds(30));
  auto stopAt = steady_clock::now();
  h.Worker(channel)->RequestStop();
  ASSERT_TRUE(h.ServeUntilAllEnded());
  EXPECT_LT(steady_clock::now() - stopAt, StopBound);
  EXPECT_EQ(panel.LastText(), closing);
  EXPECT_EQ(panel.FinalStopCode, StopCodeOperator);
  EXPECT_EQ(panel.Colours.back(), StatusColour::Done);
  pty.ReadAvailable(milliseconds(0));
  EXPECT_TRUE(pty.ReadAvailable(milliseconds(30)).empty()); // nothing more is sent
}

TEST(WorkerSpine, StopDuringBootCallOnChannelOne) {
  ExpectStopDuringBootCallEndsWith(1, "COMM Closed");
}

TEST(WorkerSpine, StopDuringBootCallOnChannelFive) {
  ExpectStopDuringBootCallEndsWith(5, "COMM Closed   Letter of No Return");
}
#endif

TEST(WorkerSpine, FailureWithoutACodeShowsZeroAndStoresGeneralFailure) {
  WorkerHarness h;
  TestPanel &panel = h.AddPanel("COM3");
  auto port = std::make_unique<FakeSerialPort>();
  port->Shared->Failures[Op::Open] = 0;
  h.Start(1, std::move(port));
  ASSERT_TRUE(h.ServeUntilAllEnded());
  EXPECT_EQ(panel.Texts, std::vector<std::string>{"ERROR " + CantOpen + " (0)"});
  EXPECT_EQ(panel.FinalStopCode, StopCodeGeneralFailure);
}

TEST(WorkerSpine, OnlyTheFirstFailureIsReportedAndLaterStepsAreSkipped) {
  WorkerHarness h;
  TestPanel &panel = h.AddPanel("COM3");
  auto port = std::make_unique<FakeSerialPort>();
  auto shared = port->Shared;
  shared->Failures[Op::ApplySettings] = 22;
  shared->Failures[Op::ApplyTimeouts] = 5;
  h.Start(1, std::move(port));
  ASSERT_TRUE(h.ServeUntilAllEnded());
  EXPECT_EQ(panel.Texts,
            (std::vector<std::string>{"Opened COMM port", "ERROR Could not setup COMM port (22)"}));
  EXPECT_EQ(panel.FinalStopCode, 22u);
  EXPECT_TRUE(shared->Writes.empty());
  EXPECT_TRUE(shared->Closed);
}

TEST(WorkerSpine, StepsThatGoOnAfterAFailureDoNotHideIt) {
  // The line answers up to the identification request; from there every
  // read fails. The handshake still writes its remaining messages.
  WorkerHarness h;
  TestPanel &panel = h.AddPanel("COM3");
  auto port = std::make_unique<FakeSerialPort>();
  auto shared = port->Shared;
  size_t received = 0;
  shared->SetResponder([&shared, &received](const std::vector<uint8_t> &bytes) {
    received += bytes.size();
    if (bytes == std::vector<uint8_t>{0x45})
      shared->Answer({0x43});
    if (received == 1 + 13 + 5888)
      shared->Answer({0x21});
    if (received == 1 + 13 + 5888 + 6 + 2) {
      std::lock_guard lock(shared->Mutex);
      shared->Failures[Op::Read] = 5;
    }
  });
  h.Start(1, std::move(port));
  ASSERT_TRUE(h.ServeUntilAllEnded());
  const std::string failure = "ERROR Could not read from COMM port (5)";
  EXPECT_EQ(panel.LastText(), failure);
  EXPECT_EQ(std::count(panel.Texts.begin(), panel.Texts.end(), failure), 1);
  EXPECT_FALSE(panel.Saw("Waiting for ACK of flash type"));
  EXPECT_EQ(panel.FinalStopCode, 5u);
  EXPECT_EQ(shared->Writes.back(), std::vector<uint8_t>{0x21}); // the flash type request
}

TEST(WorkerSpine, StopAfterAFailureReplacesItsCodeButNotItsText) {
  WorkerHarness h;
  TestPanel &panel = h.AddPanel("COM3");
  auto port = std::make_unique<FakeSerialPort>();
  auto shared = port->Shared;
  shared->Failures[Op::ApplySettings] = 0;
  shared->Blocked[Op::Purge] = true;
  TCommsThread *worker = h.Start(1, std::move(port));
  ASSERT_TRUE(h.ServeUntil([&] { return shared->WaitingAt(Op::Purge); }));
  EXPECT_EQ(worker->StopCodeValue(), StopCodeGeneralFailure);
  worker->RequestStop();
  shared->Release(Op::Purge);
  ASSERT_TRUE(h.ServeUntilAllEnded());
  EXPECT_EQ(panel.FinalStopCode, StopCodeOperator);
  EXPECT_EQ(panel.LastText(), "ERROR Could not setup COMM port (0)");
  EXPECT_FALSE(panel.Saw("COMM Closed"));
}

TEST(WorkerSpine, StopBeforeTheRunBeginsIsKept) {
  WorkerHarness h;
  TestPanel &panel = h.AddPanel("COM3");
  auto port = std::make_unique<FakeSerialPort>();
  auto shared = port->Shared;
  // The worker is held at its first call onto the window's thread, which
  // this thread has not served yet.
  h.Start(1, std::move(port))->RequestStop();
  ASSERT_TRUE(h.ServeUntilAllEnded());
  EXPECT_EQ(panel.Texts, (std::vector<std::string>{"Opened COMM port", "COMM Closed"}));
  EXPECT_TRUE(shared->Writes.empty());
}

TEST(WorkerSpine, WaitForDataEndsOnStopAndStillWritesTheRestOfTheStep) {
  // A line that answers the boot ROM call and the RAM program, then is silent.
  WorkerHarness h;
  TestPanel &panel = h.AddPanel("COM3");
  auto port = std::make_unique<FakeSerialPort>();
  auto shared = port->Shared;
  size_t received = 0;
  shared->SetResponder([&shared, &received](const std::vector<uint8_t> &bytes) {
    received += bytes.size();
    if (bytes == std::vector<uint8_t>{0x45})
      shared->Answer({0x43});
    if (received == 1 + 13 + 5888 + 0)
      shared->Answer({0x21});
  });
  h.Start(1, std::move(port));
  ASSERT_TRUE(h.ServeUntil([&] { return panel.Saw("Waiting for man ID and device ID"); }));
  h.ServeUntil([] { return false; }, milliseconds(100));
  h.Worker(1)->RequestStop();
  ASSERT_TRUE(h.ServeUntilAllEnded());
  EXPECT_EQ(panel.LastText(), "COMM Closed");
  // After the stop the map command, the segment map and the flash type
  // request still went out.
  ASSERT_GE(shared->Writes.size(), 2u);
  EXPECT_EQ(shared->Writes[shared->Writes.size() - 2], (std::vector<uint8_t>{0x00, 0xFE, 0x00, 0x00}));
  EXPECT_EQ(shared->Writes.back(), std::vector<uint8_t>{0x21});
  EXPECT_FALSE(panel.Saw("Starting flash write"));
}

TEST(LineSpeed, ChoiceStartsAt920KAndKeepsItsValueWithNoButton) {
  EXPECT_EQ(RowForButtons(SpeedButtons{}), SpeedRow920K);
  EXPECT_EQ(RowForButtons(ButtonsForRow(SpeedRow115K)), SpeedRow115K);
  EXPECT_EQ(RowForButtons(SpeedButtons{}, SpeedRow115K), SpeedRow115K);
  EXPECT_EQ(SpeedRowAt(SpeedRow460K).Rate, 460800u);
  EXPECT_EQ(SpeedRowAt(SpeedRow460K).Code, 0x01);
  EXPECT_EQ(SpeedRowAt(99).Row, SpeedRow920K);
  EXPECT_EQ(LineRateTable[SpeedRow460K], 460800u);
  EXPECT_EQ(SpeedCodeTable[SpeedRow460K], 0x01);
  EXPECT_EQ(LineRateTable[SpeedRowBoot], 28800u);
  EXPECT_EQ(SpeedRowForName("115K"), 3);
  EXPECT_EQ(SpeedRowForName("230K"), -1);
}

} // namespace
