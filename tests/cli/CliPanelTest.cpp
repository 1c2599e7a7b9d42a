// The command line's channel panel: an error code's meaning (and, for a
// refused port, the dialout hint) on a line of its own after the unchanged
// status text.
#include "cli/CliPanel.h"
#include "engine/LineSpeed.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>

using namespace kestrune;

namespace {

TEST(CliPanel, ErrorCodesGetAMeaningLineAndKeepTheirText) {
  GuiCallQueue queue;
  std::ostringstream out;
  CliPanel panel(ChannelRows[2], "/dev/ttyUSB2", ButtonsForRow(6), queue, out, false, false);
  const std::string refused =
      "ERROR 해당 COMM port 를 열 수 없습니다. (" + std::to_string(EACCES) + ")";
  panel.SetStatusText(refused);
  std::istringstream lines(out.str());
  std::string first, second, rest;
  std::getline(lines, first);
  std::getline(lines, second);
  EXPECT_EQ(first, "3: " + refused);
  EXPECT_EQ(second.rfind("3: ", 0), 0u) << second;
  EXPECT_EQ(second.rfind("3: (13) EACCES: Permission denied. ", 0), 0u) << second;
  EXPECT_NE(second.find("dialout group"), std::string::npos) << second;
  EXPECT_FALSE(std::getline(lines, rest));
  EXPECT_EQ(panel.LastText(), refused) << "the summary keeps the status text";

  std::ostringstream missing;
  CliPanel other(ChannelRows[0], "/dev/ttyUSB9", ButtonsForRow(6), queue, missing, false, false);
  other.SetStatusText("ERROR 해당 COMM port 를 열 수 없습니다. (2)");
  EXPECT_EQ(missing.str(), "1: ERROR 해당 COMM port 를 열 수 없습니다. (2)\n"
                           "1: (2) ENOENT: No such file or directory\n");

  // No system code, no second line.
  std::ostringstream plain;
  CliPanel third(ChannelRows[1], "/dev/ttyUSB1", ButtonsForRow(6), queue, plain, false, false);
  third.SetStatusText("ERROR Flash Erase Fail !! (0)");
  third.SetStatusText("COMM Closed");
  EXPECT_EQ(plain.str(), "2: ERROR Flash Erase Fail !! (0)\n2: COMM Closed\n");
}

} // namespace
