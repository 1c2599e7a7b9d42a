// Eight channels side by side, each with its own virtual handset.
#include "engine/CommsThread.h"
#include "engine/LineSpeed.h"
#include "tests/e2e/E2eSupport.h"

#include <gtest/gtest.h>

using namespace kestrune;
using namespace kestrune::test;
using namespace std::chrono;
using handset::HandsetOptions;
using Kind = LoadedImage::Kind;

namespace {

TEST(EightChannels, AllCompleteAndEachPanelShowsOnlyItsOwnChannel) {
  LoadedImage image(PatternBytes(5 * 32768 + 123), Kind::SRecord);
  ASSERT_TRUE(image.Loaded());
  // Handset k refuses block k once, so "Re-sending block k" marks channel k
  // (the last block, 6, is never sent again: a refusal there is the verdict).
  std::vector<std::unique_ptr<handset::VirtualHandset>> handsets;
  WorkerHarness h;
  for (uint32_t k = 1; k <= 8; ++k) {
    HandsetOptions options;
    options.NakBlock = k <= 5 ? k : 0;
    handsets.push_back(StartHandset(options));
    h.AddPanel(handsets.back()->DevicePath());
  }
  for (int channel = 1; channel <= 8; ++channel)
    h.Start(channel);
  ASSERT_TRUE(h.ServeUntilAllEnded(seconds(60)));
  for (int channel = 1; channel <= 8; ++channel) {
    SCOPED_TRACE("channel " + std::to_string(channel));
    TestPanel &panel = h.Panel(channel);
    EXPECT_EQ(panel.LastText(), CompletedText);
    std::string why;
    EXPECT_TRUE(FlashHolds(*handsets[size_t(channel - 1)], image.Data(), &why)) << why;
    int resends = 0;
    for (const std::string &text : panel.Texts)
      if (text.rfind("Re-sending block ", 0) == 0) {
        ++resends;
        EXPECT_EQ(text, "Re-sending block " + std::to_string(channel) + " of 6");
      }
    EXPECT_EQ(resends, channel <= 5 ? 1 : 0);
    // Its own progress: 23 RAM program chunks, then the six blocks, in order.
    auto maximums = panel.Maximums();
    EXPECT_EQ(maximums, (std::vector<uint32_t>{23, 6}));
    auto positions = panel.Positions();
    ASSERT_FALSE(positions.empty());
    EXPECT_TRUE(std::is_sorted(positions.begin() + 1, positions.begin() + 24));
    EXPECT_EQ(std::vector<uint32_t>(positions.end() - 6, positions.end()),
              (std::vector<uint32_t>{1, 2, 3, 4, 5, 6}));
  }
}

TEST(EightChannels, EachChannelEndsWithItsOwnOutcome) {
  LoadedImage image(PatternBytes(4 * 32768), Kind::Bin);
  std::vector<std::unique_ptr<handset::VirtualHandset>> handsets;
  WorkerHarness h;
  for (int channel = 1; channel <= 8; ++channel) {
    HandsetOptions options;
    if (channel == 2)
      options.NakBlock = 3;
    if (channel == 3)
      options.EraseFailSegment = 9;
    handsets.push_back(StartHandset(options));
    h.AddPanel(channel == 6 ? "/dev/kestrune-missing-port" : handsets.back()->DevicePath());
  }
  h.Panel(5).OnText = [&](const std::string &text) {
    if (text == "Sending block 2 of 4")
      h.Worker(5)->RequestStop();
  };
  for (int channel = 1; channel <= 8; ++channel)
    h.Start(channel);
  ASSERT_TRUE(h.ServeUntilAllEnded(seconds(60)));
  for (int channel : {1, 4, 7, 8})
    EXPECT_EQ(h.Panel(channel).LastText(), CompletedText) << "channel " << channel;
  EXPECT_EQ(h.Panel(2).LastText(), CompletedText);
  EXPECT_TRUE(h.Panel(2).Saw("Re-sending block 3 of 4"));
  EXPECT_EQ(h.Panel(3).LastText(), "ERROR Flash Erase Fail !! (0)");
  EXPECT_TRUE(h.Panel(3).Saw(" Flash Eraseing Sector 9/131 Fail !!"));
  EXPECT_EQ(h.Panel(5).LastText(), "COMM Closed   Letter of No Return");
  EXPECT_EQ(h.Panel(6).Texts,
            std::vector<std::string>{"ERROR 해당 COMM port 를 열 수 없습니다. (2)"});
}

TEST(EightChannels, WaitingChannelKeepsItsSpeedWhenALaterStartChoosesAnother) {
  LoadedImage image(PatternBytes(1000), Kind::Bin);
  auto late = StartHandset({.PowerOnDelayMs = 1500});
  auto prompt = StartHandset();
  WorkerHarness h;
  TestPanel &first = h.AddPanel(late->DevicePath(), ButtonsForRow(SpeedRow920K));
  TestPanel &second = h.AddPanel(prompt->DevicePath(), ButtonsForRow(SpeedRow115K));
  h.Start(1);
  ASSERT_TRUE(h.ServeUntil([&] { return first.Saw("전원 On/Reset Mobile"); }));
  h.Start(2);
  ASSERT_TRUE(h.ServeUntilAllEnded(seconds(30)));
  EXPECT_TRUE(first.Saw("Port set to 921600 baud"));
  EXPECT_TRUE(second.Saw("Port set to 115200 baud"));
  EXPECT_EQ(first.LastText(), CompletedText);
  EXPECT_EQ(late->Runs().at(0).LineRate, 921600u);
  EXPECT_EQ(first.FinalReport.LineRate, 921600u);
}

} // namespace
