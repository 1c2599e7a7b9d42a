// What the command line draws: the live line of a channel, the in-place
// redraw of all of them on a terminal, and the final table.
#include "cli/LiveLines.h"
#include "cli/ResultTable.h"

#include "platform/ErrorMeaning.h"

#include <gtest/gtest.h>

#include <sstream>

namespace kestrune {
namespace {

using namespace std::chrono_literals;

LiveChannel Programming() {
  LiveChannel channel;
  channel.Channel = 3;
  channel.Port = "/dev/pts/7";
  channel.Progress.Phase = RunPhase::Programming;
  channel.Progress.RunPercent = 42.7;
  channel.Progress.KiBPerSecond = 88.25;
  channel.Progress.Left = 75s;
  channel.LastText = "Sending block 12 of 24";
  return channel;
}

TEST(CliView, ALiveLineHoldsPhasePercentRateTimeLeftAndText) {
  std::string line = LiveLine(Programming(), 200);
  EXPECT_EQ(line, "3 /dev/pts/7   programming           42%    88.2 KiB/s left 1:15  "
                  "Sending block 12 of 24");
  // Finished: the outcome instead of the phase, no rate and no estimate.
  LiveChannel done = Programming();
  done.Progress.Phase = RunPhase::Finished;
  done.Progress.Outcome = RunOutcome::Failed;
  done.Progress.Left.reset();
  done.LastText = "ERROR Flash Erase Fail !! (0)";
  EXPECT_EQ(LiveLine(done, 200), "3 /dev/pts/7   failed                42%  ERROR Flash Erase Fail !! (0)");
}

TEST(CliView, ARepeatingChannelWaitingShowsItsLastUnitsVerdict) {
  LiveChannel waiting = Programming();
  waiting.Progress.Phase = RunPhase::WaitingForNextUnit;
  waiting.Progress.RunPercent = 0;
  waiting.Progress.KiBPerSecond = 0;
  waiting.Progress.Left.reset();
  waiting.LastText = "Handset still connected: remove it";
  waiting.Verdict = UnitVerdictText({2, RunOutcome::Failed, "ERROR Flash Erase Fail !! (0)"});
  EXPECT_EQ(LiveLine(waiting, 200),
            "3 /dev/pts/7   waiting for the next unit   0%     0.0 KiB/s  "
            "[unit 2 failed: ERROR Flash Erase Fail !! (0)]  Handset still connected: remove it");
  // A passed unit's text is not repeated.
  EXPECT_EQ(UnitVerdictText({3, RunOutcome::Passed, "다운로드 완료"}), "unit 3 passed");
}

TEST(CliView, ALiveLineIsCutToTheTerminalWithoutSplittingACharacter) {
  LiveChannel channel = Programming();
  channel.LastText = "다운로드 완료 !!!!!!!!!!!!!!!!!";
  for (size_t width : {40u, 76u, 77u, 78u, 79u}) {
    std::string line = LiveLine(channel, width);
    size_t columns = 0;
    for (unsigned char c : line)
      if ((c & 0xC0) != 0x80)
        columns += c >= 0xE0 ? 2 : 1;
    EXPECT_LE(columns, width);
    // Whole UTF-8 sequences only.
    EXPECT_NE(static_cast<unsigned char>(line.back()) & 0xC0, 0xC0u);
  }
}

TEST(CliView, LinesAreRedrawnInPlace) {
  std::ostringstream out;
  LiveLines live(out, 80);
  std::vector<LiveChannel> channels{Programming(), Programming()};
  channels[1].Channel = 4;
  live.Draw(channels);
  std::string first = out.str();
  EXPECT_EQ(first.rfind("\r\033[K", 0), 0u); // no cursor move the first time
  out.str("");
  live.Draw(channels);
  std::string second = out.str();
  EXPECT_EQ(second.rfind("\033[2A", 0), 0u); // back up over the two lines
  size_t lines = 0;
  for (char c : second)
    lines += c == '\n';
  EXPECT_EQ(lines, 2u);
}

TEST(CliView, TheFinalTableHasOneRowPerChannel) {
  std::vector<ChannelResult> results(2);
  results[0].Channel = 1;
  results[0].Port = "/dev/pts/3";
  results[0].Run = RunOutcome::Passed;
  results[0].Bytes = 262144;
  results[0].Seconds = 4.0;
  results[0].LastText = "다운로드 완료 !!!!!!!!!!!!!!!!!";
  results[1].Channel = 2;
  results[1].Port = "/dev/kestrune-missing";
  results[1].Run = RunOutcome::Stopped;
  results[1].Seconds = 0.5;
  results[1].LastText = "COMM Closed";
  std::ostringstream out;
  PrintResultTable(out, results);
  std::istringstream lines(out.str());
  std::string header, row1, row2, extra;
  std::getline(lines, header);
  std::getline(lines, row1);
  std::getline(lines, row2);
  EXPECT_FALSE(std::getline(lines, extra));
  EXPECT_EQ(header, "ch  port                  outcome       bytes  seconds    KiB/s  last text");
  EXPECT_EQ(row1, "1   /dev/pts/3            passed       262144      4.0     64.0  "
                  "다운로드 완료 !!!!!!!!!!!!!!!!!");
  EXPECT_EQ(row2, "2   /dev/kestrune-missing stopped           0      0.5      0.0  COMM Closed");
}

TEST(CliView, AnErrorCodeHasItsMeaningBesideTheTextInTheTableAndTheLiveLine) {
  std::vector<ChannelResult> results(1);
  results[0].Channel = 4;
  results[0].Port = "/dev/ttyUSB3";
  results[0].Run = RunOutcome::Failed;
  results[0].LastText = "ERROR 해당 COMM port 를 열 수 없습니다. (16)";
  std::ostringstream out;
  PrintResultTable(out, results);
  // The system's own words for the code: "(16) EBUSY: Device or resource
  // busy" on Linux.
  const std::string meaning = SystemErrorMeaning(16);
  ASSERT_FALSE(meaning.empty());
  EXPECT_NE(out.str().find("  ERROR 해당 COMM port 를 열 수 없습니다. (16)  [" + meaning + "]\n"),
            std::string::npos)
      << out.str();
#ifndef _WIN32
  EXPECT_EQ(meaning, "(16) EBUSY: Device or resource busy");
#endif

  LiveChannel channel;
  channel.Channel = 4;
  channel.Port = "/dev/ttyUSB3";
  channel.LastText = results[0].LastText;
  std::string line = LiveLine(channel, 300);
  EXPECT_NE(line.find(results[0].LastText + "  [" + meaning.substr(0, 8)), std::string::npos)
      << line;
}

TEST(CliView, InRepeatModeEveryUnitsVerdictFollowsTheTable) {
  std::vector<ChannelResult> results(1);
  results[0].Channel = 1;
  results[0].Port = "/dev/pts/3";
  results[0].Passed = 2;
  results[0].Failed = 1;
  results[0].Units = {{1, RunOutcome::Passed, "ok"},
                      {2, RunOutcome::Failed, "ERROR Flash Erase Fail !! (0)"},
                      {3, RunOutcome::Passed, "ok"}};
  std::ostringstream out;
  PrintResultTable(out, results, true);
  std::string text = out.str();
  size_t first = text.find("1: unit 1 passed\n");
  size_t second = text.find("1: unit 2 failed: ERROR Flash Erase Fail !! (0)\n");
  size_t third = text.find("1: unit 3 passed\n");
  ASSERT_NE(first, std::string::npos) << text;
  ASSERT_NE(second, std::string::npos) << text;
  ASSERT_NE(third, std::string::npos) << text;
  EXPECT_LT(first, second);
  EXPECT_LT(second, third);
  // Without repeat mode the table stands alone.
  std::ostringstream single;
  PrintResultTable(single, results, false);
  EXPECT_EQ(single.str().find("unit "), std::string::npos);
}

} // namespace
} // namespace kestrune
