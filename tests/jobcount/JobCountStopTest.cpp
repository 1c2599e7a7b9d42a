// A stop ends a channel's ask for a place at once, however long the
// station's database is held by another program: the ask says it was
// stopped, and no place is left taken.
#include "jobcount/JobCountGate.h"
#include "tests/records/RecordsTestSupport.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

using namespace kestrune;
using namespace kestrune::jobcount;
using kestrune::records::test::TempDir;

namespace {

JobKey Key(uint64_t units) {
  JobKey key;
  key.Name = "fw-line-a";
  key.Version = "1";
  key.Units = units;
  key.Station = "st-a";
  return key;
}

std::unique_ptr<JobCountGate> Gate(const std::string &path, const JobKey &key) {
  std::string why;
  auto store = OpenSqliteJobUnits(path, key, why);
  EXPECT_TRUE(store) << why;
  return store ? std::make_unique<JobCountGate>(key, std::move(store)) : nullptr;
}

// Another program's write transaction on the database, held until closed.
struct Holder {
  sqlite3 *Db = nullptr;
  explicit Holder(const std::string &path) {
    sqlite3_open(path.c_str(), &Db);
    EXPECT_EQ(sqlite3_exec(Db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(Db);
  }
  ~Holder() {
    sqlite3_exec(Db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(Db);
  }
};

using Clock = std::chrono::steady_clock;

} // namespace

TEST(JobCountStop, AStopEndsTheAskWhileAnotherProgramHoldsTheDatabase) {
  TempDir dir;
  const std::string path = dir.File("records.sqlite");
  auto gate = Gate(path, Key(3));
  ASSERT_TRUE(gate);
  std::atomic<bool> stop{false};
  Clock::time_point stopped;
  {
    Holder other(path);
    auto ask = std::async(std::launch::async, [&] {
      std::string text;
      UnitAdmission admission = gate->Admit(1, text, &stop);
      return std::make_pair(admission, text);
    });
    // Still waiting for the database well after it was asked.
    EXPECT_EQ(ask.wait_for(std::chrono::milliseconds(400)), std::future_status::timeout);
    stopped = Clock::now();
    stop = true;
    ASSERT_EQ(ask.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_LT(Clock::now() - stopped, std::chrono::milliseconds(500));
    auto [admission, text] = ask.get();
    EXPECT_EQ(admission, UnitAdmission::Stopped);
    EXPECT_EQ(text, "Job fw-line-a: stopped while asking for a place: no place taken");
  }
  EXPECT_EQ(gate->UnderWay(), 0u);
  // Nothing was taken: all three places are there for the next units.
  std::atomic<bool> running{false};
  std::string text;
  for (int channel = 1; channel <= 3; ++channel)
    EXPECT_EQ(gate->Admit(channel, text, &running), UnitAdmission::Admitted) << text;
  EXPECT_EQ(gate->Admit(4, text, &running), UnitAdmission::Wait) << text;
}

TEST(JobCountStop, AChannelStoppedWhileAnotherAsksDoesNotWaitForIt) {
  TempDir dir;
  const std::string path = dir.File("records.sqlite");
  auto gate = Gate(path, Key(3));
  ASSERT_TRUE(gate);
  std::atomic<bool> first{false}, second{false};
  Holder other(path);
  auto asking = std::async(std::launch::async, [&] {
    std::string text;
    return gate->Admit(1, text, &first);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200)); // channel 1 holds the gate
  auto waiting = std::async(std::launch::async, [&] {
    std::string text;
    return gate->Admit(2, text, &second);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const Clock::time_point stopped = Clock::now();
  second = true;
  ASSERT_EQ(waiting.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_LT(Clock::now() - stopped, std::chrono::milliseconds(500));
  EXPECT_EQ(waiting.get(), UnitAdmission::Stopped);
  // Channel 1 still waits for the database.
  EXPECT_EQ(asking.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
  first = true;
  EXPECT_EQ(asking.get(), UnitAdmission::Stopped);
}

TEST(JobCountStop, WithoutAStopTheAskWaitsForTheDatabaseToBeFree) {
  TempDir dir;
  const std::string path = dir.File("records.sqlite");
  auto gate = Gate(path, Key(3));
  ASSERT_TRUE(gate);
  std::atomic<bool> stop{false};
  auto other = std::make_unique<Holder>(path);
  auto ask = std::async(std::launch::async, [&] {
    std::string text;
    return gate->Admit(1, text, &stop);
  });
  EXPECT_EQ(ask.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
  other.reset();
  ASSERT_EQ(ask.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(ask.get(), UnitAdmission::Admitted);
}
