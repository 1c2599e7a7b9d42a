// A handset that stops reading the line in the middle of a block: the
// host's write cannot finish, and a stop must still end the run at once.
#include "engine/CommsThread.h"
#include "tests/e2e/E2eSupport.h"
#include "tests/support/FreezingHandset.h"

#include <gtest/gtest.h>

using namespace kestrune;
using namespace kestrune::test;
using namespace std::chrono;
using Kind = LoadedImage::Kind;

namespace {

TEST(FrozenLine, StopEndsARunWhoseBlockTheHandsetNeverReads) {
  LoadedImage image(PatternBytes(3 * 32768), Kind::Bin);
  ASSERT_TRUE(image.Loaded());
  WorkerHarness h;
  // Declared after the harness: if the stop failed, closing the line first
  // lets the blocked write end and the harness finish.
  FreezingHandset handset;
  TestPanel &panel = h.AddPanel(handset.DevicePath());
  h.Start(1);
  ASSERT_TRUE(h.ServeUntil([&] { return panel.Saw("Sending block 1 of 3"); }, seconds(30)));
  // The frame is 32776 bytes; the line holds less, so the write is stuck.
  h.ServeUntil([] { return false; }, milliseconds(300));
  ASSERT_TRUE(handset.Frozen());
  EXPECT_LT(handset.Unread(), 32776u);

  const auto stopped = steady_clock::now();
  h.Worker(1)->RequestStop();
  ASSERT_TRUE(h.ServeUntilAllEnded(seconds(5)));
  EXPECT_LT(steady_clock::now() - stopped, seconds(1));
  EXPECT_EQ(panel.LastText(), "COMM Closed");
  EXPECT_EQ(panel.FinalStopCode, StopCodeOperator);
}

TEST(FrozenLine, WithoutAStopTheWriteWaitsForTheLine) {
  LoadedImage image(PatternBytes(3 * 32768), Kind::Bin);
  ASSERT_TRUE(image.Loaded());
  WorkerHarness h;
  auto handset = std::make_unique<FreezingHandset>();
  TestPanel &panel = h.AddPanel(handset->DevicePath());
  h.Start(1);
  ASSERT_TRUE(h.ServeUntil([&] { return panel.Saw("Sending block 1 of 3"); }, seconds(30)));
  // Writes have no time-out of their own: the run is still there a while on.
  EXPECT_FALSE(h.ServeUntilAllEnded(milliseconds(1500)));
  EXPECT_EQ(panel.LastText(), "Sending block 1 of 3");
  // The line goes away under the write: a port failure ends the run.
  handset.reset();
  ASSERT_TRUE(h.ServeUntilAllEnded(seconds(5)));
  EXPECT_EQ(panel.LastText().rfind("ERROR Could not write to COMM port (", 0), 0u)
      << panel.LastText();
}

} // namespace
