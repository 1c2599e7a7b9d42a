// Line pacing on a simulated clock: host bytes readable at the line rate
// from the start of each burst, answers leaving at the line rate, whatever
// the lateness of the handset's wakes.
#include "handset/LineModel.h"
#include "handset/OutputQueue.h"

#include <gtest/gtest.h>

#include <vector>

namespace kestrune::handset::test {
namespace {

// 110000 baud at 11 bits a byte: one byte every 100 us, 100 bytes in the
// 10 ms an idle line may save up.
constexpr uint32_t Rate = 110000;
constexpr uint64_t IdleCredit = 100;

SimTime At(int64_t us) { return SimTime(us); }

// Reads everything the pacer allows at now.
uint64_t ReadAll(ReadPacer &pacer, SimTime now, uint32_t rate = Rate) {
  uint64_t budget = pacer.Budget(now, rate);
  pacer.Consume(budget);
  return budget;
}

TEST(ReadPacer, LateWakesInABurstGetExactlyTheLineSchedule) {
  ReadPacer pacer;
  EXPECT_EQ(pacer.Budget(At(0), Rate), IdleCredit);
  pacer.Pending(Ms(1000));
  EXPECT_EQ(ReadAll(pacer, Ms(1000)), IdleCredit) << "a second of idle line banks 10 ms";
  EXPECT_EQ(ReadAll(pacer, Ms(1005)), 50u);
  // Woken 60 ms late: every byte the line delivered meanwhile, no fewer.
  EXPECT_EQ(ReadAll(pacer, Ms(1065)), 600u);
  EXPECT_EQ(pacer.Budget(At(1065050), Rate), 0u) << "half a byte is not a byte";
  // Bytes left unread stay readable.
  EXPECT_EQ(pacer.Budget(Ms(1070), Rate), 50u);
  pacer.Consume(10);
  EXPECT_EQ(pacer.Budget(Ms(1070), Rate), 40u);
  // The next wake is when the schedule reaches the bytes asked for, not sooner.
  SimTime when = pacer.WhenAvailable(Ms(1070), 100);
  EXPECT_EQ(when, Ms(1076));
  EXPECT_EQ(pacer.Budget(when - SimTime(1), Rate), 99u);
  EXPECT_EQ(pacer.Budget(when, Rate), 100u);

  // A long burst at a rate whose byte time is no whole number of
  // microseconds, read at irregular and often late wakes, ends exactly on
  // the line's schedule: no time lost, none gained, no drift.
  constexpr uint32_t Fast = 921600;
  ReadPacer fast;
  fast.Budget(At(0), Fast);
  fast.Pending(At(0));
  uint64_t total = ReadAll(fast, At(0), Fast);
  const int64_t steps[] = {5000, 4999, 37000, 1, 80000, 5003, 12345, 250};
  int64_t now = 0;
  for (int round = 0; round < 100; ++round) {
    for (int64_t step : steps) {
      now += step;
      total += ReadAll(fast, At(now), Fast);
    }
  }
  uint64_t scheduled = uint64_t(now) * Fast / 11000000;
  EXPECT_EQ(total, 837 + scheduled) << "10 ms of idle credit, then the line rate";
}

TEST(ReadPacer, AnIdleLineBanksNoMoreThanTheIdleCredit) {
  ReadPacer pacer;
  pacer.Budget(At(0), Rate);
  pacer.Pending(At(0));
  ReadAll(pacer, At(0));
  // A wake 60 ms late finds only 30 bytes waiting: the rest of its 600 bytes
  // of credit was an idle line and is not kept beyond 10 ms worth.
  ASSERT_EQ(pacer.Budget(Ms(60), Rate), 600u);
  pacer.Consume(30);
  pacer.Drained();
  EXPECT_EQ(pacer.Budget(Ms(60), Rate), IdleCredit);
  EXPECT_EQ(pacer.Budget(Ms(2000), Rate), IdleCredit);
  pacer.Pending(Ms(2000));
  EXPECT_EQ(pacer.Budget(Ms(2000), Rate), IdleCredit);

  // Credit left under the cap goes on growing while the line is idle.
  ReadAll(pacer, Ms(2000));
  ASSERT_EQ(pacer.Budget(Ms(2002), Rate), 20u);
  pacer.Drained(); // nothing waiting to use them
  pacer.Pending(Ms(2005));
  EXPECT_EQ(pacer.Budget(Ms(2005), Rate), 50u);

  // A slow line still takes a FIFO's 16 bytes at once.
  ReadPacer slow;
  EXPECT_EQ(slow.Budget(Ms(100), 9600), 16u);
}

TEST(ReadPacer, ABurstAfterIdleIsTimedFromItsFirstSight) {
  ReadPacer pacer;
  pacer.Budget(At(0), Rate);
  pacer.Pending(At(0));
  ReadAll(pacer, At(0));
  pacer.Drained(); // no credit left
  // While idle the handset sleeps only until a chunk would be due.
  EXPECT_EQ(pacer.WhenAvailable(At(0), 50), Ms(5));
  // Bytes seen 3 ms later: 3 ms of idle credit, then the schedule runs from
  // that sight, seeing them again changes nothing, and a late wake gets it
  // all.
  pacer.Pending(Ms(3));
  EXPECT_EQ(pacer.Budget(Ms(3), Rate), 30u);
  pacer.Pending(Ms(10));
  EXPECT_EQ(pacer.Budget(Ms(23), Rate), 230u);
  ReadAll(pacer, Ms(23));
  pacer.Drained();
  // After a long pause the burst starts where it is seen, with the capped
  // credit: not at the pause's start.
  pacer.Pending(Ms(1000));
  EXPECT_EQ(pacer.Budget(Ms(1020), Rate), IdleCredit + 200);
}

TEST(OutputQueue, PacedAnswersKeepTheLineRateForALateWriter) {
  constexpr uint32_t Fast = 921600; // 11.94 us a byte
  OutputQueue queue;
  queue.SetPacing(true);
  for (int i = 0; i < 10000; ++i)
    queue.Push(uint8_t(i), Fast, At(0));
  std::vector<OutByte> out;
  queue.TakeDue(Ms(50), out);
  EXPECT_EQ(out.size(), uint64_t(50000) * Fast / 11000000) << "every byte the line carried in 50 ms";
  queue.Written(Ms(50));
  ASSERT_TRUE(queue.NextDue());
  // The next byte is due on the schedule, already past for the late writer.
  EXPECT_LE(*queue.NextDue(), Ms(50) + SimTime(12));
  queue.TakeDue(Ms(1000), out);
  EXPECT_EQ(out.size(), 10000u);
  queue.Written(Ms(1000));
  // A byte for an idle line starts afresh and takes one byte time.
  queue.Push(0x06, Fast, Ms(2000));
  EXPECT_EQ(queue.NextDue(), Ms(2000) + SimTime(12));
  // Without pacing a byte is due when it is queued.
  OutputQueue unpaced;
  unpaced.Push(0x06, Fast, Ms(3));
  EXPECT_EQ(unpaced.NextDue(), Ms(3));
}

} // namespace
} // namespace kestrune::handset::test
