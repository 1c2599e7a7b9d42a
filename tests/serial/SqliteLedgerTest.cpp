// The station's ledger: claims and their settling, a range used up, claims
// left open by a program that ended, and many channels on one database at
// once.
#include "serial/OpenLedger.h"
#include "tests/serial/SqliteLedgerFixture.h"

#include <algorithm>
#include <mutex>
#include <random>
#include <set>
#include <thread>

using namespace kestrune::serial;
using namespace kestrune::serial::test;

namespace {

TEST_F(SqliteLedgerTest, HandsOutInOrderAndGivesBackOnlyWhatNeverLeft) {
  auto ledger = Open();
  Claim first = MustClaim(*ledger, {Sn});
  Claim second = MustClaim(*ledger, {Sn});
  ASSERT_EQ(first.Values.size(), 1u);
  EXPECT_EQ(first.Values[0].Text, "0000001000");
  EXPECT_EQ(first.Values[0].Field, "sn");
  EXPECT_EQ(second.Values[0].Text, "0000001001");
  EXPECT_NE(first.Id, second.Id);

  // The first never left the host: the next unit gets it.
  MustSettle(*ledger, first, ClaimEnd::Returned);
  MustSettle(*ledger, second, ClaimEnd::Passed);
  Claim third = MustClaim(*ledger, {Sn});
  EXPECT_EQ(third.Values[0].Position, 0u);
  // Sent to a unit that failed: never again, kept with the unit.
  MustSettle(*ledger, third, ClaimEnd::Spent);
  Claim fourth = MustClaim(*ledger, {Sn}, 3);
  EXPECT_EQ(fourth.Values[0].Text, "0000001002");

  std::vector<PoolStatus> status = ledger->Status({Sn});
  ASSERT_EQ(status.size(), 1u);
  EXPECT_EQ(status[0].Passed, 1u);
  EXPECT_EQ(status[0].Spent, 1u);
  EXPECT_EQ(status[0].Claimed, 1u);
  EXPECT_EQ(status[0].Left, 2u);
  EXPECT_EQ(status[0].NextText, "0000001003");
  ASSERT_EQ(status[0].SpentOn.size(), 1u);
  EXPECT_EQ(status[0].SpentOn[0].Text, "0000001000");
  EXPECT_EQ(status[0].SpentOn[0].Station, "A");
  EXPECT_EQ(status[0].SpentOn[0].Channel, 1);
  EXPECT_FALSE(status[0].SpentOn[0].When.empty());
  EXPECT_EQ(status[0].SpentTexts, std::vector<std::string>{"0000001000"});
}

TEST_F(SqliteLedgerTest, ASettledClaimCannotBeSettledAgain) {
  auto ledger = Open();
  Claim claim = MustClaim(*ledger, {Sn});
  MustSettle(*ledger, claim, ClaimEnd::Passed);
  std::string error;
  EXPECT_FALSE(ledger->Settle(claim, ClaimEnd::Returned, error));
  EXPECT_NE(error.find("0 of its 1"), std::string::npos) << error;
  // Still passed: the next claim does not get it back.
  EXPECT_EQ(MustClaim(*ledger, {Sn}).Values[0].Position, 1u);
}

TEST_F(SqliteLedgerTest, ARangeUsedUpIsRefusedWithItsTextAndNothingIsClaimed) {
  auto ledger = Open();
  PoolRequest mac = CounterPool("mac:1", "mac", 1, 100);
  for (int i = 0; i < 5; ++i)
    MustSettle(*ledger, MustClaim(*ledger, {Sn}), i == 4 ? ClaimEnd::Returned : ClaimEnd::Passed);
  MustClaim(*ledger, {Sn, mac}); // takes the returned one
  Claim claim;
  std::string error;
  EXPECT_FALSE(ledger->Claim({mac, Sn}, {"A", 1}, claim, error));
  EXPECT_EQ(error.rfind("Serial range of sn used up: ", 0), 0u) << error;
  EXPECT_NE(error.find("0000001000 to 0000001004"), std::string::npos) << error;
  EXPECT_TRUE(claim.Values.empty());
  // Either all fields are claimed or none: mac lost nothing.
  std::vector<PoolStatus> status = ledger->Status({mac});
  EXPECT_EQ(status[0].Left, 99u);
  EXPECT_EQ(status[0].NextText, "0000000002");
  EXPECT_EQ(ledger->Status({Sn})[0].NextText, std::nullopt);

  // Widening the range keeps what was used.
  PoolRequest wider = Sn;
  wider.Capacity = 7;
  EXPECT_EQ(MustClaim(*ledger, {wider}).Values[0].Text, "0000001005");
}

TEST_F(SqliteLedgerTest, ATextUsedUnderTheFieldNameIsSkippedInAnotherPool) {
  auto ledger = Open();
  for (int i = 0; i < 4; ++i)
    MustSettle(*ledger, MustClaim(*ledger, {Sn}), i == 3 ? ClaimEnd::Spent : ClaimEnd::Passed);
  // A scheme started again at 1002: 1002 was passed and 1003 spent.
  PoolRequest restarted = CounterPool("sn:counter:1002", "sn", 1002, 10);
  EXPECT_EQ(MustClaim(*ledger, {restarted}).Values[0].Text, "0000001004");
  // Another field with the same texts is not affected.
  PoolRequest other = CounterPool("other:1002", "other", 1002, 10);
  EXPECT_EQ(MustClaim(*ledger, {other}).Values[0].Text, "0000001002");
  std::vector<PoolStatus> status = ledger->Status({restarted});
  EXPECT_EQ(status[0].Skipped, 2u);
  EXPECT_EQ(status[0].Claimed, 1u);
  EXPECT_EQ(status[0].Left, 7u);
}

TEST_F(SqliteLedgerTest, AClaimLeftOpenIsSpentWhenTheLedgerIsOpenedAgain) {
  uint64_t position = 0;
  {
    auto ledger = Open();
    position = MustClaim(*ledger, {Sn}).Values[0].Position;
  }
  auto ledger = Open();
  std::vector<PoolStatus> status = ledger->Status({Sn});
  EXPECT_EQ(status[0].Claimed, 0u);
  EXPECT_EQ(status[0].Spent, 1u);
  // What the program had reserved ahead came back at its clean end.
  EXPECT_EQ(status[0].WrittenOff, 0u);
  EXPECT_EQ(status[0].Left, 4u);
  EXPECT_EQ(MustClaim(*ledger, {Sn}).Values[0].Position, position + 1);
}

TEST_F(SqliteLedgerTest, PositionsReservedAheadComeInOrderAndComeBackAtACleanEnd) {
  PoolRequest pool = CounterPool("sn:counter:0", "sn", 0, 100000);
  uint64_t expected = 0;
  for (int program = 0; program < 2; ++program) {
    auto ledger = Open();
    // Well past what one reservation holds, so that the reserving thread
    // tops up several times.
    for (int unit = 0; unit < 300; ++unit) {
      Claim claim = MustClaim(*ledger, {pool});
      ASSERT_EQ(claim.Values.size(), 1u);
      EXPECT_EQ(claim.Values[0].Position, expected);
      EXPECT_EQ(claim.Values[0].Text, pool.TextAt(expected));
      ++expected;
      MustSettle(*ledger, claim, ClaimEnd::Passed);
    }
  }
  auto ledger = Open();
  PoolStatus status = ledger->Status({pool})[0];
  EXPECT_EQ(status.Passed, 600u);
  EXPECT_EQ(status.WrittenOff, 0u);
  EXPECT_EQ(status.Left, pool.Capacity - 600);
  EXPECT_EQ(status.NextText, pool.TextAt(600));
}

TEST_F(SqliteLedgerTest, EightChannelsAtOnceNeverShareAPosition) {
  auto ledger = Open();
  PoolRequest pool = CounterPool("sn:counter:0", "sn", 0, 100000);
  PoolRequest mac = CounterPool("mac:0", "mac", 0, 100000);
  std::mutex mutex;
  std::vector<uint64_t> passed;
  std::vector<std::thread> channels;
  for (int channel = 1; channel <= 8; ++channel)
    channels.emplace_back([&, channel] {
      std::mt19937 random{unsigned(channel)};
      for (int unit = 0; unit < 40; ++unit) {
        Claim claim;
        std::string error;
        if (!ledger->Claim({pool, mac}, {"A", channel}, claim, error)) {
          ADD_FAILURE() << error;
          return;
        }
        const ClaimEnd end = ClaimEnd(random() % 3);
        if (!ledger->Settle(claim, end, error))
          ADD_FAILURE() << error;
        if (end == ClaimEnd::Passed) {
          std::lock_guard lock(mutex);
          passed.push_back(claim.Values[0].Position);
        }
      }
    });
  for (std::thread &t : channels)
    t.join();
  std::set<uint64_t> distinct(passed.begin(), passed.end());
  EXPECT_EQ(distinct.size(), passed.size());
  PoolStatus status = ledger->Status({pool})[0];
  EXPECT_EQ(status.Passed, passed.size());
  EXPECT_EQ(status.Claimed, 0u);
  EXPECT_EQ(status.Passed + status.Spent + status.Left, pool.Capacity);
}

// Eight channels back to back run through the reserve again and again: a
// claim that finds nothing reserved waits for the next block apart from
// the others, and still no position is lost or given twice, and each
// channel's values come in order.
TEST_F(SqliteLedgerTest, ChannelsRunningThroughTheReserveLoseNoPositionAndKeepTheirOrder) {
  auto ledger = Open();
  PoolRequest pool = CounterPool("sn:counter:0", "sn", 0, 100000);
  constexpr int Units = 150;
  std::mutex mutex;
  std::vector<uint64_t> all;
  std::vector<std::thread> channels;
  for (int channel = 1; channel <= 8; ++channel)
    channels.emplace_back([&, channel] {
      std::vector<uint64_t> mine;
      for (int unit = 0; unit < Units; ++unit) {
        Claim claim;
        std::string error;
        if (!ledger->Claim({pool}, {"A", channel}, claim, error) ||
            !ledger->Settle(claim, ClaimEnd::Passed, error)) {
          ADD_FAILURE() << error;
          return;
        }
        mine.push_back(claim.Values[0].Position);
      }
      EXPECT_TRUE(std::is_sorted(mine.begin(), mine.end())) << "channel " << channel;
      std::lock_guard lock(mutex);
      all.insert(all.end(), mine.begin(), mine.end());
    });
  for (std::thread &t : channels)
    t.join();
  ASSERT_EQ(all.size(), size_t(8 * Units));
  std::sort(all.begin(), all.end());
  // Every position from the first on, once each: nothing skipped or
  // withheld while the program runs.
  for (size_t i = 0; i < all.size(); ++i)
    ASSERT_EQ(all[i], i);
  PoolStatus status = ledger->Status({pool})[0];
  EXPECT_EQ(status.Passed, all.size());
  EXPECT_EQ(status.Claimed, 0u);
}

} // namespace

namespace {

TEST(OpenLedger, AStationWithoutItsDatabaseIsRefusedNotGivenAPassingOne) {
  kestrune::serial::LedgerPlace place;
  std::string error;
  EXPECT_FALSE(kestrune::serial::OpenLedger(place, error));
  EXPECT_NE(error.find("database"), std::string::npos) << error;
  TempDir dir;
  place.StationDatabase = dir.File("station.sqlite");
  EXPECT_TRUE(kestrune::serial::OpenLedger(place, error)) << error;
}

} // namespace
