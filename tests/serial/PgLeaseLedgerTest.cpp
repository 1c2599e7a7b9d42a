// Stations of one line taking leases from a real PostgreSQL server: never
// one position on two stations, through crashes, a server that goes away,
// a released lease and a range used up. Each test starts its own server.
#include "serial/PgLeaseLedger.h"
#include "serial/PgLeaseServer.h"
#include "tests/records/PgServer.h"
#include "tests/serial/LedgerTestSupport.h"

#include <gtest/gtest.h>
#include <pqxx/pqxx>

#include <algorithm>
#include <mutex>
#include <random>
#include <set>
#include <thread>

using namespace kestrune::serial;
using namespace kestrune::serial::test;
using kestrune::records::test::PgScalar;
using kestrune::records::test::PgServer;

namespace {

class PgLeaseLedgerTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (PgServer::BinDir().empty())
      GTEST_SKIP() << "PostgreSQL server programs (initdb, pg_ctl under /usr/lib/postgresql) "
                      "are not installed; install the Debian package postgresql";
    Server = std::make_unique<PgServer>();
    ASSERT_TRUE(Server->Start()) << Server->Error();
  }

  std::unique_ptr<PgLeaseLedger> Station(const std::string &name, uint64_t leaseSize) {
    LedgerPlace place;
    place.StationDatabase = Dir.File(name + "/records.sqlite");
    place.ServerUrl = Server->Url();
    place.Station = name;
    place.LeaseSize = leaseSize;
    place.Notice = [this](const std::string &text) {
      std::lock_guard lock(NoticeMutex);
      Notices.push_back(text);
    };
    std::string why;
    auto ledger = PgLeaseLedger::Open(place, why);
    EXPECT_TRUE(ledger) << why;
    return ledger;
  }

  int NoticesWith(const std::string &part) {
    std::lock_guard lock(NoticeMutex);
    return int(std::count_if(Notices.begin(), Notices.end(), [&](const std::string &n) {
      return n.find(part) != std::string::npos;
    }));
  }

  uint64_t ServerNumber(const std::string &sql) { return std::stoull(PgScalar(Server->Url(), sql)); }

  uint64_t PassOne(PgLeaseLedger &ledger, const PoolRequest &pool) {
    Claim claim;
    std::string error;
    EXPECT_TRUE(ledger.Claim({pool}, {"X", 1}, claim, error)) << error;
    EXPECT_TRUE(ledger.Settle(claim, ClaimEnd::Passed, error)) << error;
    return claim.Values.empty() ? ~0ull : claim.Values[0].Position;
  }

  TempDir Dir;
  std::unique_ptr<PgServer> Server;
  std::mutex NoticeMutex;
  std::vector<std::string> Notices;
};

TEST_F(PgLeaseLedgerTest, TwoStationsOfEightChannelsWithCrashesNeverShareAPosition) {
  const PoolRequest pool = CounterPool("sn:counter:0", "sn", 0, 1000000);
  const uint64_t leaseSize = 40;
  std::mutex mutex;
  std::vector<uint64_t> passed;
  auto runStation = [&](const std::string &name, unsigned seed) {
    std::mt19937 random{seed};
    for (int round = 0; round < 3; ++round) {
      auto ledger = Station(name, leaseSize);
      if (!ledger)
        return;
      const bool crash = round < 2;
      std::vector<std::thread> channels;
      for (int channel = 1; channel <= 8; ++channel) {
        const unsigned channelSeed = unsigned(random());
        channels.emplace_back([&, channel, channelSeed] {
          std::mt19937 draw{channelSeed};
          for (int unit = 0; unit < 15; ++unit) {
            Claim claim;
            std::string error;
            if (!ledger->Claim({pool}, {name, channel}, claim, error)) {
              ADD_FAILURE() << error;
              return;
            }
            // A crash leaves the last claim of each channel open.
            if (crash && unit == 14)
              return;
            const ClaimEnd end = ClaimEnd(draw() % 3);
            if (!ledger->Settle(claim, end, error))
              ADD_FAILURE() << error;
            if (end == ClaimEnd::Passed) {
              std::lock_guard lock(mutex);
              passed.push_back(claim.Values[0].Position);
            }
          }
        });
      }
      for (std::thread &t : channels)
        t.join();
    }
  };
  std::thread a(runStation, "A", 1u), b(runStation, "B", 2u);
  a.join();
  b.join();

  std::set<uint64_t> distinct(passed.begin(), passed.end());
  EXPECT_EQ(distinct.size(), passed.size());
  EXPECT_GT(passed.size(), 100u);
  // Every position leased is passed, spent, skipped or withheld on the
  // server, or still free in its station's leases.
  uint64_t passedOnStations = 0;
  uint64_t freeOnStations = 0;
  const uint64_t leased = ServerNumber("SELECT next FROM kestrune_serial_pools");
  for (const std::string name : {"A", "B"}) {
    auto ledger = Station(name, leaseSize);
    ASSERT_TRUE(ledger->WaitReported(std::chrono::seconds(20)));
    PoolStatus status = ledger->Status({pool})[0];
    EXPECT_EQ(status.Claimed, 0u);
    passedOnStations += status.Passed;
    freeOnStations += status.Left - (pool.Capacity - leased);
  }
  EXPECT_EQ(ServerNumber("SELECT count(*) FROM kestrune_serial_values") + freeOnStations, leased);
  EXPECT_EQ(ServerNumber("SELECT count(*) FROM kestrune_serial_values WHERE state NOT IN "
                         "('passed', 'spent', 'skipped', 'withheld')"),
            0u);
  EXPECT_EQ(passedOnStations, passed.size());
  EXPECT_EQ(ServerNumber("SELECT count(*) FROM kestrune_serial_values WHERE state = 'passed'"),
            passed.size());
  // Leases never overlap.
  EXPECT_EQ(ServerNumber("SELECT count(*) FROM kestrune_serial_leases a JOIN kestrune_serial_leases "
                         "b ON a.id < b.id AND a.first < b.\"end\" AND b.first < a.\"end\""),
            0u);
}

TEST_F(PgLeaseLedgerTest, ClaimsGoOnFromTheLeaseWhileTheServerIsAway) {
  const PoolRequest pool = CounterPool("sn:counter:0", "sn", 0, 1000);
  auto ledger = Station("A", 100);
  std::set<uint64_t> positions;
  for (int i = 0; i < 10; ++i)
    positions.insert(PassOne(*ledger, pool));
  ASSERT_TRUE(ledger->WaitReported(std::chrono::seconds(10)));
  Server->Stop();
  for (int i = 0; i < 90; ++i)
    positions.insert(PassOne(*ledger, pool));
  EXPECT_EQ(positions.size(), 100u);
  // The lease is used up and the server away: said, not waited for.
  Claim claim;
  std::string error;
  EXPECT_FALSE(ledger->Claim({pool}, {"A", 1}, claim, error));
  EXPECT_NE(error.find("the line's server cannot be reached"), std::string::npos) << error;
  EXPECT_EQ(NoticesWith("cannot be reached"), 1);
  // Asked again, it says so at once.
  const auto again = std::chrono::steady_clock::now();
  EXPECT_FALSE(ledger->Claim({pool}, {"A", 1}, claim, error));
  EXPECT_LT(std::chrono::steady_clock::now() - again, std::chrono::seconds(1));
  EXPECT_NE(error.find("cannot be reached"), std::string::npos) << error;
  // The status does not wait for the server it knows to be away.
  const auto asked = std::chrono::steady_clock::now();
  PoolStatus away = ledger->Status({pool})[0];
  EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(1));
  EXPECT_EQ(away.Passed, 100u);
  ASSERT_FALSE(away.Leases.empty());
  EXPECT_NE(away.Leases.back().find("cannot be reached"), std::string::npos) << away.Leases.back();

  ASSERT_TRUE(Server->Start()) << Server->Error();
  ASSERT_TRUE(ledger->WaitReported(std::chrono::seconds(20)));
  EXPECT_EQ(NoticesWith("answers again"), 1);
  EXPECT_EQ(ServerNumber("SELECT count(*) FROM kestrune_serial_values WHERE state = 'passed'"), 100u);
  EXPECT_FALSE(positions.count(PassOne(*ledger, pool)));
}

TEST_F(PgLeaseLedgerTest, ASilentServerIsNotWaitedForByTheStatusOrTheCloseAndLearnsLater) {
  const PoolRequest pool = CounterPool("sn:counter:0", "sn", 0, 1000);
  const PoolRequest other = CounterPool("mac:counter:0", "mac", 0, 1000);
  auto ledger = Station("A", 100);
  for (int i = 0; i < 5; ++i)
    PassOne(*ledger, pool);
  ASSERT_TRUE(ledger->WaitReported(std::chrono::seconds(10)));
  // The server takes the connection's bytes and answers nothing.
  ASSERT_TRUE(Server->Pause());
  // The lease holds values: no channel waits for the server.
  const auto passing = std::chrono::steady_clock::now();
  for (int i = 0; i < 5; ++i)
    PassOne(*ledger, pool);
  EXPECT_LT(std::chrono::steady_clock::now() - passing, std::chrono::seconds(1));

  // A window's ledger: a pool not read yet is shown with the station's own
  // figures at once.
  LedgerPlace place;
  place.StationDatabase = Dir.File("A/records.sqlite");
  place.ServerUrl = Server->Url();
  place.Station = "A";
  place.StatusWait = std::chrono::milliseconds(0);
  std::string why;
  auto window = PgLeaseLedger::Open(place, why);
  ASSERT_TRUE(window) << why;
  const auto asked = std::chrono::steady_clock::now();
  PoolStatus unread = window->Status({other})[0];
  EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(200));
  ASSERT_FALSE(unread.Leases.empty());
  EXPECT_NE(unread.Leases.back().find("not read from its server yet"), std::string::npos)
      << unread.Leases.back();
  // Not "used up": the line's range is not known.
  EXPECT_TRUE(unread.StationOnly);
  EXPECT_FALSE(unread.NextText);

  // Each closes within a second, though the server is told nothing.
  auto closing = std::chrono::steady_clock::now();
  window.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - closing, std::chrono::seconds(1));
  closing = std::chrono::steady_clock::now();
  ledger.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - closing, std::chrono::seconds(1));

  // What was settled meanwhile is told at the next start.
  ASSERT_TRUE(Server->Resume());
  ledger = Station("A", 100);
  ASSERT_TRUE(ledger->WaitReported(std::chrono::seconds(20)));
  EXPECT_EQ(ServerNumber("SELECT count(*) FROM kestrune_serial_values WHERE state = 'passed'"), 10u);
}

TEST_F(PgLeaseLedgerTest, AStoppedServerNeverHoldsAChannelWhoseLeaseRunsOut) {
  const PoolRequest pool = CounterPool("sn:counter:0", "sn", 0, 1000);
  LedgerPlace place;
  place.StationDatabase = Dir.File("A/records.sqlite");
  place.ServerUrl = Server->Url();
  place.Station = "A";
  place.LeaseSize = 8;
  place.ServerSilence = std::chrono::milliseconds(1500);
  std::string why;
  auto ledger = PgLeaseLedger::Open(place, why);
  ASSERT_TRUE(ledger) << why;
  PassOne(*ledger, pool);
  ASSERT_TRUE(ledger->WaitReported(std::chrono::seconds(10)));
  // Its processes stopped, the server's machine still takes the bytes:
  // neither its own time limits nor the network's end a call.
  ASSERT_TRUE(Server->Pause());
  const auto began = std::chrono::steady_clock::now();
  std::set<uint64_t> positions;
  Claim claim;
  std::string error;
  while (ledger->Claim({pool}, {"A", 1}, claim, error)) {
    positions.insert(claim.Values[0].Position);
    ASSERT_TRUE(ledger->Settle(claim, ClaimEnd::Passed, error)) << error;
    ASSERT_LT(positions.size(), 100u) << "claims went on past the leases";
  }
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(10));
  EXPECT_NE(error.find("the line's server cannot be reached"), std::string::npos) << error;
  // The lease taken at the start held 8; the values it held were all used.
  EXPECT_EQ(positions.size(), 7u);

  ASSERT_TRUE(Server->Resume());
  bool back = false;
  for (int i = 0; i < 100 && !back; ++i) {
    back = ledger->Claim({pool}, {"A", 1}, claim, error);
    if (!back)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_TRUE(back) << error;
  EXPECT_FALSE(positions.count(claim.Values[0].Position));
  EXPECT_TRUE(ledger->Settle(claim, ClaimEnd::Passed, error)) << error;
}

TEST_F(PgLeaseLedgerTest, AReleasedLeaseIsWrittenOffAndNeverHandedOutAgain) {
  const PoolRequest pool = CounterPool("sn:counter:0", "sn", 0, 1000);
  {
    auto a = Station("A", 10);
    EXPECT_EQ(PassOne(*a, pool), 0u);
  }
  {
    pqxx::connection server(Server->Url());
    EXPECT_EQ(ReleaseLeasesOf(server, "A", {}), 1);
    EXPECT_EQ(ReleaseLeasesOf(server, "A", {}), 0);
  }
  auto b = Station("B", 10);
  EXPECT_EQ(PassOne(*b, pool), 10u);
  auto a = Station("A", 10);
  ASSERT_TRUE(a->WaitReported(std::chrono::seconds(10)));
  EXPECT_EQ(PassOne(*a, pool), 20u);
  ASSERT_TRUE(a->WaitReported(std::chrono::seconds(10)));
  PoolStatus status = a->Status({pool})[0];
  EXPECT_EQ(status.WrittenOff, 9u);
  EXPECT_EQ(status.Leases.size(), 3u);
  EXPECT_NE(status.Leases[0].find("station A, positions 0 to 9, 1 used (released)"),
            std::string::npos)
      << status.Leases[0];
}

TEST_F(PgLeaseLedgerTest, AStationThatOnlyAsksTheStatusTakesNoLease) {
  const PoolRequest pool = CounterPool("sn:counter:0", "sn", 0, 1000);
  auto a = Station("A", 10);
  PassOne(*a, pool);
  ASSERT_TRUE(a->WaitReported(std::chrono::seconds(10)));
  auto c = Station("C", 10);
  PoolStatus status = c->Status({pool})[0];
  ASSERT_TRUE(c->WaitReported(std::chrono::seconds(10)));
  EXPECT_EQ(ServerNumber("SELECT count(*) FROM kestrune_serial_leases WHERE station = 'C'"), 0u);
  // The line's leases, and what is left on the line for this station.
  ASSERT_EQ(status.Leases.size(), 1u);
  EXPECT_NE(status.Leases[0].find("station A, positions 0 to 9, 1 used"), std::string::npos)
      << status.Leases[0];
  EXPECT_EQ(status.Left, 990u);
  // Holding no lease, its next value is the first of the next lease.
  EXPECT_FALSE(status.StationOnly);
  EXPECT_EQ(status.NextText, pool.TextAt(10));
}

TEST_F(PgLeaseLedgerTest, ALineRangeUsedUpIsRefusedOnEveryStation) {
  const PoolRequest pool = CounterPool("sn:counter:0", "sn", 0, 25);
  auto a = Station("A", 10);
  auto b = Station("B", 10);
  // Each takes leases ahead of need, so either may hold more than the other.
  std::set<uint64_t> positions;
  int handedOut = 0;
  std::string errors[2];
  bool refused[2] = {false, false};
  for (int i = 0; i < 100 && !(refused[0] && refused[1]); ++i) {
    PgLeaseLedger *ledger = i % 2 ? b.get() : a.get();
    Claim claim;
    std::string &error = errors[i % 2];
    refused[i % 2] = !ledger->Claim({pool}, {"A", 1}, claim, error);
    if (refused[i % 2])
      continue;
    ++handedOut;
    positions.insert(claim.Values[0].Position);
    EXPECT_TRUE(ledger->Settle(claim, ClaimEnd::Passed, error)) << error;
  }
  EXPECT_EQ(handedOut, 25);
  EXPECT_EQ(positions.size(), 25u);
  for (const std::string &error : errors)
    EXPECT_EQ(error.rfind("Serial range of sn used up", 0), 0u) << error;
}

} // namespace
