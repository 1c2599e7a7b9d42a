// The watchdog's default limits against a handset with a real flash's
// timing: 16 MiB of NOR erased at typical times. No wait of a sound run may
// be cut, the ones that follow the whole-flash erase included.
#include "engine/CommsThread.h"
#include "engine/Watchdog.h"
#include "handset/HandsetOptions.h"
#include "tests/e2e/E2eSupport.h"

#include <gtest/gtest.h>

using namespace kestrune;
using namespace kestrune::test;
using namespace std::chrono;
using Kind = LoadedImage::Kind;

namespace {

TEST(RealisticTiming, DefaultLimitsLetAWholeFlashEraseThrough) {
  SetWatchdogSeconds(DefaultWatchdogSeconds);
  SetResendLimit(DefaultResendLimit);
  handset::HandsetOptions options;
  options.Timing = handset::RealisticTiming();
  // Two blocks: the erase runs silently after the last one, before the
  // verdict. Four blocks: the erase is reported segment by segment.
  LoadedImage twoBlocks(PatternBytes(2 * 32768), Kind::Bin);
  ASSERT_TRUE(twoBlocks.Loaded());
  auto silentErase = StartHandset(options);
  auto reportedErase = StartHandset(options);
  WorkerHarness h;
  TestPanel &verdictPanel = h.AddPanel(silentErase->DevicePath());
  h.Start(1);
  ASSERT_TRUE(h.ServeUntil([&] { return verdictPanel.Saw("Waiting for FLASH to erase"); },
                           seconds(30)));
  const auto eraseBegan = steady_clock::now();
  steady_clock::time_point verdictAt{};
  verdictPanel.OnText = [&](const std::string &) { verdictAt = steady_clock::now(); };
  // The second channel's image is loaded while the first one erases.
  LoadedImage fourBlocks(PatternBytes(4 * 32768), Kind::Bin);
  ASSERT_TRUE(fourBlocks.Loaded());
  TestPanel &reportPanel = h.AddPanel(reportedErase->DevicePath());
  h.Start(2);
  ASSERT_TRUE(h.ServeUntilAllEnded(minutes(5)));

  EXPECT_EQ(verdictPanel.LastText(), CompletedText);
  EXPECT_EQ(reportPanel.LastText(), CompletedText);
  EXPECT_TRUE(reportPanel.Saw(" Flash Erasing Sector 131/131"));
  // The verdict wait outlasted the answer limit: only the erase limit let
  // it through.
  EXPECT_GT(verdictAt - eraseBegan, milliseconds(StationRunLimits().AnswerMs));
  std::string why;
  EXPECT_TRUE(FlashHolds(*silentErase, twoBlocks.Data(), &why)) << why;
  EXPECT_TRUE(FlashHolds(*reportedErase, fourBlocks.Data(), &why)) << why;
}

} // namespace
