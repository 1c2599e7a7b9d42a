// Every way a run ends lands in exactly one outcome, and the run's report
// carries the texts, codes and counts that the handset and the line gave.
#include "engine/CommsThread.h"
#include "tests/e2e/E2eSupport.h"

#include <gtest/gtest.h>

using namespace kestrune;
using namespace kestrune::test;
using namespace std::chrono;
using handset::HandsetOptions;
using Kind = LoadedImage::Kind;

namespace {

RunReport RunOnce(HandsetOptions options, const std::function<void(WorkerHarness &, TestPanel &)>
                                               &onPanel = {}) {
  auto handset = StartHandset(std::move(options));
  WorkerHarness h;
  TestPanel &panel = h.AddPanel(handset ? handset->DevicePath() : "");
  if (onPanel)
    onPanel(h, panel);
  h.Start(1);
  EXPECT_TRUE(h.ServeUntilAllEnded(seconds(30)));
  EXPECT_TRUE(panel.Terminated);
  return panel.FinalReport;
}

TEST(RunReport, PassedRunCountsItsBlocksAndIdentification) {
  LoadedImage image(PatternBytes(3 * 32768 + 11), Kind::Bin);
  auto before = RunReport::Clock::now();
  RunReport r = RunOnce({.NakBlock = 3, .NakTimes = 2});
  EXPECT_EQ(r.Outcome, RunOutcome::Passed);
  EXPECT_EQ(r.ErrorCode, 0u);
  EXPECT_EQ(r.FinalStatus, CompletedText);
  EXPECT_EQ(r.Channel, 1);
  EXPECT_TRUE(r.PortOpened);
  EXPECT_FALSE(r.Port.empty());
  EXPECT_EQ(r.LineRate, 921600u);
  EXPECT_EQ(r.BlocksResent, 2u);
  EXPECT_EQ(r.BytesSent, 3 * 32768 + 11 + 2 * 32768u);
  EXPECT_EQ(r.Identification.size(), 10u);
  EXPECT_FALSE(r.FailureRecord.has_value());
  EXPECT_LE(before, r.Started);
  EXPECT_LE(r.Started, r.Ended);
}

TEST(RunReport, FailuresKeepTheirFirstTextAndCode) {
  LoadedImage image(PatternBytes(3 * 32768), Kind::Bin);
  {
    SCOPED_TRACE("program error");
    RunReport r = RunOnce({.ProgramError = true, .ProgramErrorAddress = 0x8000,
                           .ProgramErrorCount = 3});
    EXPECT_EQ(r.Outcome, RunOutcome::Failed);
    ASSERT_TRUE(r.FailureRecord.has_value());
    EXPECT_EQ((*r.FailureRecord)[3], 3); // C, big-endian
    EXPECT_EQ(r.FinalStatus.rfind("ERROR FLASH programming error (C:3, S:0x", 0), 0u)
        << r.FinalStatus;
  }
  {
    SCOPED_TRACE("erase failure");
    RunReport r = RunOnce({.EraseFailSegment = 7});
    EXPECT_EQ(r.Outcome, RunOutcome::Failed);
    EXPECT_EQ(r.FinalStatus, "ERROR Flash Erase Fail !! (0)");
    EXPECT_EQ(r.ErrorCode, StopCodeGeneralFailure);
  }
  {
    SCOPED_TRACE("refused flash");
    RunReport r = RunOnce({.UnsupportedFlash = true});
    EXPECT_EQ(r.Outcome, RunOutcome::Failed);
    EXPECT_EQ(r.ErrorCode, StopCodeBadDevice);
    EXPECT_EQ(r.BytesSent, 0u);
  }
}

TEST(RunReport, PortThatCannotOpenFailsBeforeAnythingIsSent) {
  LoadedImage image(PatternBytes(100), Kind::Bin);
  WorkerHarness h;
  TestPanel &panel = h.AddPanel("/nonexistent/kestrune-port");
  h.Start(1);
  ASSERT_TRUE(h.ServeUntilAllEnded(seconds(10)));
  const RunReport &r = panel.FinalReport;
  EXPECT_EQ(r.Outcome, RunOutcome::Failed);
  EXPECT_FALSE(r.PortOpened);
  EXPECT_EQ(r.ErrorCode, 2u);
  EXPECT_EQ(r.FinalStatus, "ERROR 해당 COMM port 를 열 수 없습니다. (2)");
}

TEST(RunReport, StopIsStoppedWhereverItLands) {
  LoadedImage image(PatternBytes(6 * 32768), Kind::Bin);
  for (const std::string stopAt : {"전원 On/Reset Mobile", "Sending block 4 of 6"}) {
    SCOPED_TRACE(stopAt);
    RunReport r = RunOnce({.PowerOnDelayMs = stopAt == "Sending block 4 of 6" ? 0u : 60000u},
                          [&](WorkerHarness &h, TestPanel &panel) {
                            panel.OnText = [&h, stopAt](const std::string &text) {
                              if (text == stopAt)
                                h.Worker(1)->RequestStop();
                            };
                          });
    EXPECT_EQ(r.Outcome, RunOutcome::Stopped);
    EXPECT_EQ(r.ErrorCode, StopCodeOperator);
    EXPECT_EQ(r.FinalStatus, "COMM Closed");
  }
}

} // namespace
