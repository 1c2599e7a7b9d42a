// How the command line counts runs into a channel's result, and the time
// stamps of its JSON lines.
#include "cli/JsonEvents.h"
#include "platform/IsoUtcTime.h"
#include "cli/RepeatRuns.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace kestrune;

namespace {

RunReport Report(RunOutcome outcome, const std::string &text = "", uint64_t bytes = 100) {
  RunReport report;
  report.Outcome = outcome;
  report.FinalStatus = text;
  report.BytesSent = bytes;
  return report;
}

} // namespace

TEST(CliRuns, ASingleRunIsTheChannelsOutcome) {
  for (auto [run, expected] : {std::pair{RunOutcome::Passed, ChannelOutcome::Completed},
                               std::pair{RunOutcome::Failed, ChannelOutcome::Failed},
                               std::pair{RunOutcome::Stopped, ChannelOutcome::Stopped}}) {
    ChannelResult r;
    TakeRun(r, Report(run, "ERROR x (5)"), "last", false, false);
    EXPECT_EQ(r.Outcome, expected);
    EXPECT_EQ(r.LastText, run == RunOutcome::Failed ? "ERROR x (5)" : "last");
  }
}

TEST(CliRuns, ARepeatingChannelCompletesOnlyWithEveryHandsetPassed) {
  // Passed, passed, then stopped while waiting for the next handset.
  ChannelResult clean;
  TakeRun(clean, Report(RunOutcome::Passed), "done", false, true);
  TakeRun(clean, Report(RunOutcome::Passed), "done", false, true);
  TakeRun(clean, Report(RunOutcome::Stopped, "", 0), "COMM Closed", true, true);
  EXPECT_EQ(clean.Outcome, ChannelOutcome::Completed);
  EXPECT_EQ(clean.Passed, 2u);
  EXPECT_EQ(clean.Failed, 0u);
  EXPECT_EQ(clean.Bytes, 200u);

  // A stop in the middle of a handset leaves that one half-flashed.
  ChannelResult cut;
  TakeRun(cut, Report(RunOutcome::Passed), "done", false, true);
  TakeRun(cut, Report(RunOutcome::Stopped), "COMM Closed", false, true);
  EXPECT_EQ(cut.Outcome, ChannelOutcome::Stopped);

  // One failed handset fails the channel, whatever follows.
  ChannelResult failed;
  TakeRun(failed, Report(RunOutcome::Failed, "ERROR y (31)"), "ERROR y (31)", false, true);
  TakeRun(failed, Report(RunOutcome::Passed), "done", false, true);
  EXPECT_EQ(failed.Outcome, ChannelOutcome::Failed);
  EXPECT_EQ(failed.Passed, 1u);
  EXPECT_EQ(failed.Failed, 1u);

  // Stopped before the first handset answered: nothing passed.
  ChannelResult none;
  TakeRun(none, Report(RunOutcome::Stopped), "COMM Closed", false, true);
  EXPECT_EQ(none.Outcome, ChannelOutcome::Stopped);
}

TEST(CliRuns, JsonTimesAreUtcWithMilliseconds) {
  using namespace std::chrono;
  // 2026-12-08 07:51:08.123 UTC
  JsonEvents::Clock::time_point at{milliseconds(1796716268123LL)};
  EXPECT_EQ(IsoUtcTime(at), "2026-12-08T07:51:08.123Z");
  std::ostringstream out;
  JsonEvents events(out, [at] { return at; });
  events.Status(9, "/dev/ttyUSB8", "Opened COMM port", "");
  EXPECT_EQ(out.str(), "{\"channel\":9,\"event\":\"status\",\"port\":\"/dev/ttyUSB8\","
                       "\"text\":\"Opened COMM port\",\"time\":\"2026-12-08T07:51:08.123Z\"}\n");
}
