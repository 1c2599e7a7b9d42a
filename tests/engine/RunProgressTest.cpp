// The whole run's progress with a clock the test moves: phases, bytes,
// percent that never goes back, line throughput, time left; and the counts
// with their yield.
#include "engine/RunProgress.h"
#include "engine/RunTally.h"

#include <gtest/gtest.h>

namespace kestrune {
namespace {

using namespace std::chrono_literals;
using Clock = RunProgress::Clock;

struct ProgressFixture : ::testing::Test {
  Clock::time_point T0 = Clock::time_point{} + 1000s;
  Clock::time_point Now = T0;
  RunProgress Progress;

  ProgressSnapshot At(Clock::duration since) {
    Now = T0 + since;
    return Progress.Snapshot(Now);
  }
  void Phase(RunPhase phase, Clock::duration since) { Progress.SetPhase(phase, T0 + since); }
  void Bytes(uint64_t sent, uint64_t total, Clock::duration since) {
    Progress.SetBytes(sent, total, T0 + since);
  }
};

TEST_F(ProgressFixture, BytesPercentRateAndTimeLeftWhileProgramming) {
  Progress.Begin(T0);
  Phase(RunPhase::Programming, 0s);
  Bytes(0, 1024 * 1024, 0s);
  // 100 KiB a second, steadily, for four seconds.
  for (int tenth = 1; tenth <= 40; ++tenth)
    Bytes(uint64_t(tenth) * 10 * 1024, 1024 * 1024, tenth * 100ms);
  ProgressSnapshot s = At(4s);
  EXPECT_EQ(s.Phase, RunPhase::Programming);
  EXPECT_EQ(s.BytesSent, 400u * 1024);
  EXPECT_EQ(s.BytesTotal, 1024u * 1024);
  EXPECT_NEAR(s.BytePercent, 39.0625, 1e-9);
  EXPECT_NEAR(s.KiBPerSecond, 100.0, 0.01);
  EXPECT_EQ(s.Elapsed, 4s);
  ASSERT_TRUE(s.Left.has_value());
  // 624 KiB at 100 KiB/s.
  EXPECT_NEAR(std::chrono::duration<double>(*s.Left).count(), 6.24, 0.01);
}

TEST_F(ProgressFixture, ProgrammingRateIsTakenOverTheProgrammingSoFar) {
  Progress.Begin(T0);
  Phase(RunPhase::Programming, 0s);
  Bytes(0, 10 * 1024 * 1024, 0s);
  // 50 KiB/s for ten seconds, then 200 KiB/s for three.
  for (int s = 1; s <= 10; ++s)
    Bytes(uint64_t(s) * 50 * 1024, 10 * 1024 * 1024, s * 1s);
  for (int tenth = 1; tenth <= 30; ++tenth)
    Bytes(500 * 1024 + uint64_t(tenth) * 20 * 1024, 10 * 1024 * 1024, 10s + tenth * 100ms);
  EXPECT_NEAR(At(13s).KiBPerSecond, 1100.0 / 13.0, 0.01);
  // A quiet line lowers it, but the estimate stays.
  ProgressSnapshot quiet = At(16s);
  EXPECT_NEAR(quiet.KiBPerSecond, 1100.0 / 16.0, 0.01);
  ASSERT_TRUE(quiet.Left.has_value());
  EXPECT_NEAR(std::chrono::duration<double>(*quiet.Left).count(),
              (10240.0 - 1100.0) / (1100.0 / 16.0), 0.01);
}

TEST_F(ProgressFixture, ASlowLineKeepsItsRateAndTimeLeftBetweenBlocks) {
  // 115200 baud: a 32 KiB block takes about 3 s, and its bytes count only
  // once it is out. Four blocks, the erase after the second taking 5 s.
  const uint64_t block = 32768, total = 4 * block;
  Progress.Begin(T0);
  Phase(RunPhase::Programming, 0s);
  Bytes(0, total, 0s);
  Bytes(block, total, 3s);
  for (auto t : {3500ms, 4500ms, 5900ms}) {
    ProgressSnapshot between = At(t);
    EXPECT_NEAR(between.KiBPerSecond, 32.0 / std::chrono::duration<double>(t).count(), 0.01);
    ASSERT_TRUE(between.Left.has_value());
  }
  Bytes(2 * block, total, 6s);
  Phase(RunPhase::Erasing, 6s);
  EXPECT_FALSE(At(8s).Left.has_value());
  // The erase is not programming time: 64 KiB in 6 s, whatever it took.
  Phase(RunPhase::Programming, 11s);
  ProgressSnapshot after = At(11s);
  EXPECT_NEAR(after.KiBPerSecond, 64.0 / 6.0, 0.01);
  ASSERT_TRUE(after.Left.has_value());
  EXPECT_NEAR(std::chrono::duration<double>(*after.Left).count(), 6.0, 0.01);
  Bytes(3 * block, total, 14s);
  EXPECT_NEAR(At(14s).KiBPerSecond, 96.0 / 9.0, 0.01);
}

TEST_F(ProgressFixture, TheRateOutsideProgrammingFollowsTheLastTwoSeconds) {
  Progress.Begin(T0);
  Phase(RunPhase::LoadingRamProgram, 0s);
  for (int tenth = 1; tenth <= 10; ++tenth)
    Bytes(uint64_t(tenth) * 512, 10 * 512, tenth * 100ms);
  EXPECT_NEAR(At(1s).KiBPerSecond, 5.0, 0.01);
  EXPECT_NEAR(At(2s).KiBPerSecond, 2.5, 0.01);
  ProgressSnapshot quiet = At(4s);
  EXPECT_EQ(quiet.KiBPerSecond, 0.0);
  EXPECT_FALSE(quiet.Left.has_value());
  // The RAM program's bytes are not the image's: they are not shown beside
  // the whole run's percent.
  EXPECT_FALSE(quiet.ImageBytes);
  Phase(RunPhase::Programming, 4s);
  Bytes(0, 4 * 32768, 4s);
  EXPECT_TRUE(At(4s).ImageBytes);
}

TEST_F(ProgressFixture, RunPercentNeverGoesBackAndAPassedRunEndsFull) {
  Progress.Begin(T0);
  EXPECT_EQ(At(0s).Phase, RunPhase::Starting);
  Phase(RunPhase::WaitingForPowerOn, 0s);
  EXPECT_EQ(At(1s).RunPercent, 0.0);
  Phase(RunPhase::LoadingRamProgram, 2s);
  Bytes(5888, 5888, 3s);
  double afterRamProgram = At(3s).RunPercent;
  EXPECT_GT(afterRamProgram, 0.0);
  EXPECT_EQ(At(3s).BytesTotal, 5888u);

  // Programming counts its own bytes from zero; the bar does not drop.
  Phase(RunPhase::Programming, 4s);
  Bytes(0, 4 * 32768, 4s);
  ProgressSnapshot programming = At(4s);
  EXPECT_EQ(programming.BytesSent, 0u);
  EXPECT_EQ(programming.BytesTotal, 4u * 32768);
  EXPECT_GE(programming.RunPercent, afterRamProgram);

  double last = programming.RunPercent;
  Bytes(2 * 32768, 4 * 32768, 5s);
  Phase(RunPhase::Erasing, 5s);
  ProgressSnapshot erasing = At(6s);
  EXPECT_EQ(erasing.BytesSent, 2u * 32768); // erasing keeps the image's count
  EXPECT_FALSE(erasing.Left.has_value());   // time left only while programming
  EXPECT_GT(erasing.RunPercent, last);
  last = erasing.RunPercent;
  Phase(RunPhase::Programming, 7s);
  Bytes(2 * 32768, 4 * 32768, 7s); // a re-sent block
  EXPECT_GE(At(7s).RunPercent, last);
  Bytes(4 * 32768, 4 * 32768, 8s);
  Phase(RunPhase::Verdict, 8s);
  ProgressSnapshot verdict = At(8s);
  EXPECT_GT(verdict.RunPercent, 90.0);
  EXPECT_LT(verdict.RunPercent, 100.0);

  Progress.Finish(RunOutcome::Passed, T0 + 9s);
  ProgressSnapshot done = At(20s);
  EXPECT_EQ(done.Phase, RunPhase::Finished);
  EXPECT_EQ(done.Outcome, RunOutcome::Passed);
  EXPECT_EQ(done.RunPercent, 100.0);
  EXPECT_EQ(done.BytesSent, done.BytesTotal);
  EXPECT_EQ(done.Elapsed, 9s); // elapsed stops with the run
  EXPECT_EQ(done.KiBPerSecond, 0.0);
}

TEST_F(ProgressFixture, AFailedOrStoppedRunKeepsWhereItGotAndIgnoresLateCalls) {
  for (RunOutcome outcome : {RunOutcome::Failed, RunOutcome::Stopped}) {
    SCOPED_TRACE(RunOutcomeName(outcome));
    Progress.Begin(T0);
    Phase(RunPhase::Programming, 1s);
    Bytes(32768, 4 * 32768, 2s);
    double reached = At(2s).RunPercent;
    Progress.Finish(outcome, T0 + 3s);
    Phase(RunPhase::Verdict, 4s);
    Bytes(4 * 32768, 4 * 32768, 4s);
    ProgressSnapshot s = At(5s);
    EXPECT_EQ(s.Phase, RunPhase::Finished);
    EXPECT_EQ(s.Outcome, outcome);
    EXPECT_EQ(s.RunPercent, reached);
    EXPECT_EQ(s.BytesSent, 32768u);
  }
}

TEST_F(ProgressFixture, ANewRunForgetsTheLastOne) {
  Progress.Begin(T0);
  Phase(RunPhase::Programming, 1s);
  Bytes(32768, 32768, 2s);
  Progress.Finish(RunOutcome::Passed, T0 + 3s);
  Progress.Begin(T0 + 10s);
  ProgressSnapshot s = At(11s);
  EXPECT_EQ(s.Phase, RunPhase::Starting);
  EXPECT_EQ(s.RunPercent, 0.0);
  EXPECT_EQ(s.BytesTotal, 0u);
  EXPECT_EQ(s.Elapsed, 1s);
  EXPECT_FALSE(s.Outcome.has_value());
}

TEST(RunProgressMonitorTest, TakesTheInjectedClock) {
  Clock::time_point now = Clock::time_point{} + 50s;
  RunProgressMonitor monitor([&] { return now; });
  monitor.Begin();
  monitor.SetPhase(RunPhase::Programming);
  monitor.SetBytes(0, 100 * 1024);
  now += 1s;
  monitor.SetBytes(40 * 1024, 100 * 1024);
  ProgressSnapshot s = monitor.Snapshot();
  EXPECT_EQ(s.Elapsed, 1s);
  EXPECT_NEAR(s.KiBPerSecond, 40.0, 0.01);
  ASSERT_TRUE(s.Left.has_value());
  EXPECT_NEAR(std::chrono::duration<double>(*s.Left).count(), 1.5, 0.01);
}

TEST(ProgressFormatTest, DurationsAndSizes) {
  EXPECT_EQ(FormatDuration(0s), "0:00");
  EXPECT_EQ(FormatDuration(65s), "1:05");
  EXPECT_EQ(FormatDuration(3600s + 7s), "1:00:07");
  EXPECT_EQ(FormatDuration(-3s), "0:00");
  EXPECT_EQ(FormatBytes(512), "512 B");
  EXPECT_EQ(FormatBytes(920 * 1024 + 1023), "920 KiB");
  EXPECT_EQ(FormatBytes(uint64_t(16) * 1024 * 1024), "16.0 MiB");
}

TEST(RunTallyTest, CountsPassedAndFailedButNotStopped) {
  RunTally tally;
  EXPECT_FALSE(tally.HasYield());
  EXPECT_EQ(tally.Text(), "0 passed · 0 failed · –");
  for (RunOutcome outcome : {RunOutcome::Passed, RunOutcome::Passed, RunOutcome::Passed,
                             RunOutcome::Failed, RunOutcome::Stopped})
    tally.Count(outcome);
  EXPECT_EQ(tally.Passed, 3u);
  EXPECT_EQ(tally.Failed, 1u);
  EXPECT_EQ(tally.Runs(), 4u);
  EXPECT_DOUBLE_EQ(tally.YieldPercent(), 75.0);
  EXPECT_EQ(tally.Text(), "3 passed · 1 failed · 75.0%");

  std::array<RunTally, 3> channels{tally, RunTally{}, RunTally{0, 2}};
  RunTally station = StationTally(channels);
  EXPECT_EQ(station.Passed, 3u);
  EXPECT_EQ(station.Failed, 3u);
  EXPECT_DOUBLE_EQ(station.YieldPercent(), 50.0);
}

} // namespace
} // namespace kestrune
