// Repeat mode on one channel: one worker flashes handset after handset, each
// run with its own report, and never flashes a unit that stays connected a
// second time.
#include "engine/CommsThread.h"
#include "engine/RunTally.h"
#include "image/ImageDigest.h"
#include "tests/e2e/E2eSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

using namespace kestrune;
using namespace kestrune::test;
using namespace std::chrono;
using handset::HandsetOptions;
using Kind = LoadedImage::Kind;

namespace {

constexpr milliseconds Silence{300};

RepeatPlan Repeat(uint32_t runs) { return {.On = true, .Runs = runs, .SwapSilence = Silence}; }

int CompleteRuns(const handset::VirtualHandset &handset) {
  auto runs = handset.Runs();
  return int(std::count_if(runs.begin(), runs.end(), [](const handset::RunSummary &r) {
    return r.Outcome == handset::RunOutcome::Complete;
  }));
}

RunTally Count(const std::vector<RunReport> &reports) {
  RunTally tally;
  for (const RunReport &report : reports)
    tally.Count(report.Outcome);
  return tally;
}

} // namespace

TEST(Repeat, ThreeHandsetsInTurnAreEachFlashedAndCounted) {
  LoadedImage image(PatternBytes(3 * 32768 + 11), Kind::Bin);
  ASSERT_TRUE(image.Loaded());
  auto handset = StartHandset({.Model = handset::RamModel::Host, .SwapAfterRunMs = 700});
  WorkerHarness h;
  TestPanel &panel = h.AddPanel(handset->DevicePath());
  panel.Repeat = Repeat(3);
  h.Start(1);
  ASSERT_TRUE(h.ServeUntilAllEnded(seconds(60)));

  ASSERT_EQ(panel.Reports.size(), 3u);
  for (const RunReport &report : panel.Reports) {
    EXPECT_EQ(report.Outcome, RunOutcome::Passed) << report.FinalStatus;
    EXPECT_EQ(report.Port, handset->DevicePath());
  }
  EXPECT_EQ(Count(panel.Reports), (RunTally{.Passed = 3, .Failed = 0}));
  EXPECT_EQ(CompleteRuns(*handset), 3);
  // Each later run waited for the swap: the old unit gone, then the next.
  auto &t = panel.Texts;
  EXPECT_EQ(std::count(t.begin(), t.end(), std::string(RemoveHandsetText)), 2);
  EXPECT_EQ(panel.LastText(), CompletedText);
  // The next unit's run starts only after the silence has passed.
  for (size_t i = 1; i < panel.Reports.size(); ++i)
    EXPECT_GE(panel.Reports[i].Ended - panel.Reports[i - 1].Ended, Silence);
  std::string why;
  EXPECT_TRUE(FlashHolds(*handset, image.Data(), &why)) << why;
}

TEST(Repeat, StopWhileWaitingForTheNextHandsetEndsPromptly) {
  LoadedImage image(PatternBytes(40000), Kind::Bin);
  ASSERT_TRUE(image.Loaded());
  auto handset = StartHandset({.Model = handset::RamModel::Host, .SwapAfterRunMs = 60000});
  WorkerHarness h;
  TestPanel &panel = h.AddPanel(handset->DevicePath());
  panel.Repeat = Repeat(0);
  TCommsThread *worker = h.Start(1);
  // Past the first run and well into the wait for the next unit: the old
  // one has gone (a second call for power-on) and nothing answers.
  auto powerOnCalls = [&] {
    return std::count(panel.Texts.begin(), panel.Texts.end(), "전원 On/Reset Mobile");
  };
  ASSERT_TRUE(h.ServeUntil([&] { return panel.Reports.size() == 1 && powerOnCalls() == 2; },
                           seconds(30)));
  EXPECT_TRUE(panel.Saw(RemoveHandsetText));
  h.ServeUntil([] { return false; }, milliseconds(200));
  auto asked = steady_clock::now();
  worker->RequestStop();
  ASSERT_TRUE(h.ServeUntilAllEnded(seconds(5)));
  EXPECT_LT(steady_clock::now() - asked, milliseconds(500));

  ASSERT_EQ(panel.Reports.size(), 2u);
  EXPECT_EQ(panel.Reports[0].Outcome, RunOutcome::Passed);
  EXPECT_EQ(panel.Reports[1].Outcome, RunOutcome::Stopped);
  EXPECT_EQ(panel.EndedWaiting, (std::vector<bool>{false, true}));
  EXPECT_EQ(Count(panel.Reports), (RunTally{.Passed = 1, .Failed = 0}));
  EXPECT_EQ(panel.LastText(), ChannelRows[0].StopText);
  EXPECT_EQ(CompleteRuns(*handset), 1);
}

TEST(Repeat, FailedUnitIsFollowedByTheNextOne) {
  LoadedImage image(PatternBytes(2 * 32768 + 5), Kind::Bin);
  ASSERT_TRUE(image.Loaded());
  // The fixture's second unit is on a line of its own, and its boot ROM
  // stays silent for a while after the line is opened.
  auto refusing = StartHandset({.Model = handset::RamModel::Host, .UnsupportedFlash = true});
  auto good = StartHandset({.Model = handset::RamModel::Host, .PowerOnDelayMs = 800});
  WorkerHarness h;
  TestPanel &panel = h.AddPanel(refusing->DevicePath());
  panel.Repeat = Repeat(2);
  panel.OnRunEnd = [&](const RunReport &) { panel.SetPort(good->DevicePath()); };
  h.Start(1);
  ASSERT_TRUE(h.ServeUntilAllEnded(seconds(60)));

  ASSERT_EQ(panel.Reports.size(), 2u);
  EXPECT_EQ(panel.Reports[0].Outcome, RunOutcome::Failed);
  EXPECT_EQ(panel.Reports[0].FinalStatus, "ERROR Device not supported by RAM program (1200)");
  EXPECT_EQ(panel.Reports[1].Outcome, RunOutcome::Passed) << panel.Reports[1].FinalStatus;
  EXPECT_EQ(panel.Reports[1].Port, good->DevicePath());
  EXPECT_EQ(Count(panel.Reports), (RunTally{.Passed = 1, .Failed = 1}));
  std::string why;
  EXPECT_TRUE(FlashHolds(*good, image.Data(), &why)) << why;
}

TEST(Repeat, ImageFileOverwrittenBetweenUnitsIsNotSentInTheBatch) {
  const std::vector<uint8_t> first = PatternBytes(3 * 32768 + 11, 1);
  LoadedImage image(first, Kind::Bin);
  ASSERT_TRUE(image.Loaded());
  auto handset = StartHandset({.Model = handset::RamModel::Host, .SwapAfterRunMs = 700});
  WorkerHarness h;
  TestPanel &panel = h.AddPanel(handset->DevicePath());
  panel.Repeat = Repeat(3);
  // After unit 1 the file gets other content of the same size.
  panel.OnRunEnd = [&](const RunReport &) {
    if (panel.Reports.size() != 1)
      return;
    const std::vector<uint8_t> other = PatternBytes(first.size(), 2);
    std::ofstream out(image.SourcePath(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(other.data()), std::streamsize(other.size()));
  };
  h.Start(1);
  ASSERT_TRUE(h.ServeUntilAllEnded(seconds(60)));

  ASSERT_EQ(panel.Reports.size(), 3u);
  const std::string firstSum = Sha256Hex(first.data(), first.size());
  for (const RunReport &report : panel.Reports) {
    EXPECT_EQ(report.Outcome, RunOutcome::Passed) << report.FinalStatus;
    EXPECT_EQ(report.ImageSha256, firstSum);
  }
  // The last unit's flash holds the batch's image, not the file's new bytes.
  std::string why;
  EXPECT_TRUE(FlashHolds(*handset, first, &why)) << why;
  // The log says once that the batch goes on with the image it loaded.
  auto changed = std::count_if(panel.Texts.begin(), panel.Texts.end(), [](const std::string &t) {
    return t.rfind("Image file changed on disk: this batch goes on with the image loaded at ",
                   0) == 0;
  });
  EXPECT_EQ(changed, 1);
}

TEST(Repeat, UnitLeftConnectedIsNotFlashedTwice) {
  LoadedImage image(PatternBytes(40000), Kind::Bin);
  ASSERT_TRUE(image.Loaded());
  auto handset = StartHandset({.Model = handset::RamModel::Host});
  WorkerHarness h;
  TestPanel &panel = h.AddPanel(handset->DevicePath());
  panel.Repeat = Repeat(0);
  TCommsThread *worker = h.Start(1);
  ASSERT_TRUE(h.ServeUntil([&] { return panel.Reports.size() == 1; }, seconds(30)));
  EXPECT_EQ(panel.Reports[0].Outcome, RunOutcome::Passed);
  auto loads = [&] {
    return std::count(panel.Texts.begin(), panel.Texts.end(), "Sending RAM program");
  };
  const auto firstRunLoads = loads();
  // The unit is still there and answers the call: it must be taken away
  // before anything counts as the next one.
  h.ServeUntil([] { return false; }, 5 * Silence);
  EXPECT_TRUE(panel.Saw(RemoveHandsetText));
  EXPECT_EQ(panel.Reports.size(), 1u);
  EXPECT_EQ(loads(), firstRunLoads);
  worker->RequestStop();
  ASSERT_TRUE(h.ServeUntilAllEnded(seconds(5)));
  EXPECT_EQ(CompleteRuns(*handset), 1);
  ASSERT_EQ(panel.Reports.size(), 2u);
  EXPECT_EQ(panel.Reports[1].Outcome, RunOutcome::Stopped);
}

TEST(Repeat, APortThatFailsBeforeAnyHandsetAnswersEndsTheRepeat) {
  LoadedImage image(PatternBytes(1000), Kind::Bin);
  ASSERT_TRUE(image.Loaded());
  WorkerHarness h;
  TestPanel &panel = h.AddPanel("/dev/kestrune-no-such-port");
  panel.Repeat = Repeat(0);
  h.Start(1);
  // One failed run, not a run after run against a port that is not there.
  ASSERT_TRUE(h.ServeUntilAllEnded(seconds(5)));
  ASSERT_EQ(panel.Reports.size(), 1u);
  EXPECT_EQ(panel.Reports[0].Outcome, RunOutcome::Failed);
  EXPECT_FALSE(panel.Reports[0].PortOpened);
}
