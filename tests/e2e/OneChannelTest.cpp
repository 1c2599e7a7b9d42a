// One channel programs one virtual handset from end to end.
#include "engine/CommsThread.h"
#include "tests/e2e/E2eSupport.h"
#include "tests/support/Pty.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace kestrune;
using namespace kestrune::test;
using namespace std::chrono;
using handset::HandsetOptions;
using Kind = LoadedImage::Kind;

namespace {

struct OneRun {
  std::unique_ptr<handset::VirtualHandset> Handset;
  WorkerHarness H;
  TestPanel *Panel;
  std::shared_ptr<RecordingSerialPort::Log> Line;

  explicit OneRun(HandsetOptions options = {}, int channel = 1) {
    Handset = StartHandset(std::move(options));
    for (int i = 1; i < channel; ++i)
      H.AddPanel("");
    Panel = &H.AddPanel(Handset->DevicePath());
    auto port = std::make_unique<RecordingSerialPort>(CreateSerialPort());
    Line = port->Record;
    H.Start(channel, std::move(port));
  }
  bool Finish(seconds timeout = seconds(30)) { return H.ServeUntilAllEnded(timeout); }
};

TEST(EndToEnd, EveryImageSizeAndKindLandsInTheFlash) {
  struct Case {
    size_t Size;
    Kind Type;
  };
  const std::vector<Case> cases = {
      {0, Kind::Bif},          {1, Kind::Bin},           {32768, Kind::Bin},
      {40000, Kind::Bin},      {3 * 32768, Kind::Bif},   {5 * 32768 - 77, Kind::SRecord},
      {4 * 32768, Kind::SRecord},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE("image of " + std::to_string(c.Size) + " bytes");
    LoadedImage image(PatternBytes(c.Size, uint32_t(c.Size)), c.Type);
    ASSERT_TRUE(image.Loaded());
    OneRun run;
    ASSERT_TRUE(run.Finish());
    EXPECT_EQ(run.Panel->LastText(), CompletedText);
    std::string why;
    EXPECT_TRUE(FlashHolds(*run.Handset, image.Data(), &why)) << why;
    EXPECT_TRUE(run.Line->Closed);
    EXPECT_EQ(OpenDescriptorsOf(image.SourcePath()), 0);
  }
}

TEST(EndToEnd, HandsetThatPowersUpLateIsStillCaught) {
  LoadedImage image(PatternBytes(1000), Kind::Bin);
  OneRun run({.PowerOnDelayMs = 2000, .Noise = true});
  ASSERT_TRUE(run.Finish());
  EXPECT_EQ(run.Panel->LastText(), CompletedText);
}

TEST(EndToEnd, RefusedBlocksAreSentAgainUntilTaken) {
  for (uint32_t block : {1u, 2u}) {
    SCOPED_TRACE("block " + std::to_string(block));
    LoadedImage image(PatternBytes(4 * 32768 + 5), Kind::Bin);
    OneRun run({.NakBlock = block, .NakTimes = 2});
    ASSERT_TRUE(run.Finish());
    EXPECT_EQ(run.Panel->LastText(), CompletedText);
    auto &t = run.Panel->Texts;
    std::string resend = "Re-sending block " + std::to_string(block) + " of 5";
    EXPECT_EQ(std::count(t.begin(), t.end(), resend), 2);
    // A refused block 2 is answered with another erase report each time.
    int reports = int(std::count(t.begin(), t.end(), " Flash Erasing Sector 131/131"));
    EXPECT_EQ(reports, block == 2 ? 3 : 1);
    std::string why;
    EXPECT_TRUE(FlashHolds(*run.Handset, image.Data(), &why)) << why;
  }
}

TEST(EndToEnd, ProgramErrorShowsTheHandsetsRecord) {
  LoadedImage image(PatternBytes(2 * 32768), Kind::Bin);
  OneRun run({.ProgramError = true, .ProgramErrorAddress = 0x8000, .ProgramErrorCount = 3});
  ASSERT_TRUE(run.Finish());
  auto runs = run.Handset->Runs();
  ASSERT_FALSE(runs.empty());
  char expected[128];
  std::snprintf(expected, sizeof expected,
                "ERROR FLASH programming error (C:%u, S:0x%08X) (0)", runs[0].Failures,
                runs[0].FailureStatus);
  EXPECT_EQ(runs[0].Failures, 3u);
  EXPECT_EQ(run.Panel->LastText(), expected);
  EXPECT_TRUE(run.Panel->Saw("FLASH programming error"));
}

TEST(EndToEnd, EraseFailureIsReportedOnChannelsOneAndEight) {
  for (int channel : {1, 8}) {
    SCOPED_TRACE("channel " + std::to_string(channel));
    LoadedImage image(PatternBytes(3 * 32768), Kind::Bin);
    OneRun run({.EraseFailSegment = 7}, channel);
    ASSERT_TRUE(run.Finish());
    auto &t = run.Panel->Texts;
    ASSERT_GE(t.size(), 2u);
    EXPECT_EQ(t[t.size() - 2], " Flash Eraseing Sector 7/131 Fail !!");
    EXPECT_EQ(t.back(), "ERROR Flash Erase Fail !! (0)");
    EXPECT_EQ(OpenDescriptorsOf(image.SourcePath()), 0);
  }
}

TEST(EndToEnd, StopDuringTheEraseReportAndDuringTheBlocks) {
  for (const std::string stopAt : {" Flash Erasing Sector 3/131", "Sending block 4 of 6"}) {
    SCOPED_TRACE(stopAt);
    LoadedImage image(PatternBytes(6 * 32768), Kind::Bin);
    OneRun run;
    // The worker waits while its text is shown, so the stop lands exactly there.
    run.Panel->OnText = [&](const std::string &text) {
      if (text == stopAt)
        run.H.Worker(1)->RequestStop();
    };
    ASSERT_TRUE(run.Finish());
    EXPECT_EQ(run.Panel->LastText(), "COMM Closed");
    auto &t = run.Panel->Texts;
    ASSERT_GE(t.size(), 2u);
    EXPECT_EQ(t[t.size() - 2], stopAt); // no text after the stop but the closing one
    EXPECT_FALSE(run.Panel->Saw(CompletedText));
    EXPECT_TRUE(run.Line->Closed);
    EXPECT_EQ(OpenDescriptorsOf(image.SourcePath()), 0);
  }
}

TEST(EndToEnd, PulledCableEndsTheRunWithAPortError) {
  LoadedImage image(PatternBytes(4 * 32768), Kind::Bin);
  OneRun run({.DisconnectAfterBytes = 13 + 5888 + 600 + 50000});
  ASSERT_TRUE(run.Finish());
  const std::string last = run.Panel->LastText();
  EXPECT_TRUE(last.rfind("ERROR Could not read from COMM port (", 0) == 0 ||
              last.rfind("ERROR Could not write to COMM port (", 0) == 0)
      << last;
  EXPECT_NE(run.Panel->FinalStopCode, 0u);
}

TEST(EndToEnd, ImageRemovedAfterLoadingIsStillSentAsItWasLoaded) {
  // A run sends the bytes its load read; what happens to the file after
  // that is for the front end's check at the next start.
  LoadedImage image(PatternBytes(40000), Kind::Bin);
  ASSERT_TRUE(image.Loaded());
  std::filesystem::remove(image.SourcePath());
  OneRun run;
  ASSERT_TRUE(run.Finish());
  EXPECT_EQ(run.Panel->LastText(), CompletedText);
  std::string why;
  EXPECT_TRUE(FlashHolds(*run.Handset, image.Data(), &why)) << why;
}

TEST(EndToEnd, RefusedFlashAndWrongMapAnswer) {
  LoadedImage image(PatternBytes(100), Kind::Bin);
  {
    OneRun run({.UnsupportedFlash = true});
    ASSERT_TRUE(run.Finish());
    EXPECT_EQ(run.Panel->LastText(), "ERROR Device not supported by RAM program (1200)");
  }
  {
    OneRun run({.MapAnswer = 0x42});
    ASSERT_TRUE(run.Finish());
    EXPECT_TRUE(run.Panel->Saw(" Error Occurred !!"));
    EXPECT_EQ(run.Panel->LastText(), CompletedText);
  }
}

TEST(EndToEnd, SecondRunOnTheSameHandset) {
  LoadedImage image(PatternBytes(70000), Kind::Bin);
  auto handset = StartHandset();
  for (int i = 0; i < 2; ++i) {
    WorkerHarness h;
    TestPanel &panel = h.AddPanel(handset->DevicePath());
    h.Start(1);
    ASSERT_TRUE(h.ServeUntilAllEnded(seconds(30)));
    EXPECT_EQ(panel.LastText(), CompletedText) << "run " << i + 1;
  }
}

} // namespace
