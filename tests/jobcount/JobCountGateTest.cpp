// A job's count of units over the station's database: several channels at
// once never pass more units than the job allows, failed units give their
// place back, the count holds over a restart and a crash, and two programs
// on one database share it.
#include "jobcount/JobCountGate.h"
#include "records/SqliteSchema.h"
#include "tests/jobcount/JobCountBuild.h"
#include "tests/records/RecordsTestSupport.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

using namespace kestrune;
using namespace kestrune::jobcount;
using namespace kestrune::jobcount::test;
using kestrune::records::test::TempDir;

namespace {

JobKey Key(uint64_t units, const std::string &station = "st-a") {
  JobKey key;
  key.Name = "fw-line-a";
  key.Version = "1";
  key.Units = units;
  key.Station = station;
  return key;
}

std::unique_ptr<JobCountGate> Gate(const std::string &path, const JobKey &key) {
  std::string why;
  auto store = OpenSqliteJobUnits(path, key, why);
  EXPECT_TRUE(store) << why;
  if (!store)
    return nullptr;
  return std::make_unique<JobCountGate>(key, std::move(store));
}

int Scalar(const std::string &path, const std::string &sql) {
  sqlite3 *db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_stmt *s = nullptr;
  int value = -1;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) == SQLITE_OK &&
      sqlite3_step(s) == SQLITE_ROW)
    value = sqlite3_column_int(s, 0);
  sqlite3_finalize(s);
  sqlite3_close(db);
  return value;
}

} // namespace

TEST(JobCount, SeveralChannelsNeverPassMoreUnitsThanTheJobAllows) {
  TempDir dir;
  auto gate = Gate(dir.File("records.sqlite"), Key(40));
  ASSERT_TRUE(gate);
  BuildTally tally;
  Build(*gate, 6, 4, tally); // one unit in four fails and gives its place back
  EXPECT_EQ(tally.Passed, 40u);
  EXPECT_GT(tally.Failed, 0u);
  EXPECT_LE(tally.MostSeen, 40u);
  EXPECT_EQ(tally.Refusals, 6u);
  EXPECT_EQ(tally.LastRefusal, "Job fw-line-a: all 40 units built");
  EXPECT_TRUE(gate->AllBuilt());
  EXPECT_EQ(gate->UnderWay(), 0u);
  EXPECT_GT(gate->MostUnderWay(), 1u); // the channels did build side by side
  EXPECT_LE(gate->MostUnderWay(), 6u);
}

TEST(JobCount, TheCountHoldsOverARestartAndAnotherVersionHasItsOwn) {
  TempDir dir;
  const std::string path = dir.File("records.sqlite");
  {
    auto gate = Gate(path, Key(5));
    ASSERT_TRUE(gate);
    std::string text;
    for (int unit = 0; unit < 3; ++unit) {
      ASSERT_EQ(gate->Admit(1, text), UnitAdmission::Admitted) << text;
      gate->Finish(1, unit != 1); // the second fails
    }
  }
  auto gate = Gate(path, Key(5));
  ASSERT_TRUE(gate);
  BuildTally tally;
  Build(*gate, 2, 0, tally);
  EXPECT_EQ(tally.Passed, 3u); // 2 passed before the restart
  std::string text;
  EXPECT_EQ(gate->Admit(1, text), UnitAdmission::Refused);
  EXPECT_EQ(text, "Job fw-line-a: all 5 units built");

  JobKey next = Key(5);
  next.Version = "2";
  auto other = Gate(path, next);
  ASSERT_TRUE(other);
  EXPECT_EQ(other->Admit(1, text), UnitAdmission::Admitted) << text;
  other->Finish(1, true);
}

TEST(JobCount, AChannelWaitsWhileEveryPlaceIsUnderWayAndGoesOnWhenOneFails) {
  TempDir dir;
  auto gate = Gate(dir.File("records.sqlite"), Key(2));
  ASSERT_TRUE(gate);
  std::string text;
  ASSERT_EQ(gate->Admit(1, text), UnitAdmission::Admitted);
  ASSERT_EQ(gate->Admit(2, text), UnitAdmission::Admitted);
  EXPECT_EQ(gate->Admit(3, text), UnitAdmission::Wait);
  EXPECT_EQ(text, "Job fw-line-a: 2 units under way");
  gate->Finish(1, false);
  EXPECT_EQ(gate->Admit(3, text), UnitAdmission::Admitted) << text;
  gate->Finish(2, true);
  gate->Finish(3, true);
  EXPECT_EQ(gate->Admit(1, text), UnitAdmission::Refused);
}

TEST(JobCount, APlaceLeftUnderWayByACrashIsCountedAsBuilt) {
  TempDir dir;
  const std::string path = dir.File("records.sqlite");
  pid_t child = fork();
  if (child == 0) {
    std::string why;
    auto store = OpenSqliteJobUnits(path, Key(3), why);
    JobCountGate gate(Key(3), std::move(store));
    std::string text;
    gate.Admit(1, text);
    _exit(gate.UnderWay() == 1 ? 0 : 1); // never finished: as a crash leaves it
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_EQ(Scalar(path, "SELECT count(*) FROM job_units WHERE state = 'flight'"), 1);
  auto gate = Gate(path, Key(3));
  ASSERT_TRUE(gate);
  EXPECT_EQ(Scalar(path, "SELECT count(*) FROM job_units WHERE state = 'lost'"), 1);
  BuildTally tally;
  Build(*gate, 2, 0, tally);
  EXPECT_EQ(tally.Passed, 2u);
}

TEST(JobCount, TwoProgramsOnOneDatabaseShareTheCount) {
  TempDir dir;
  const std::string path = dir.File("records.sqlite");
  constexpr uint64_t Units = 60;
  std::vector<pid_t> children;
  for (int p = 0; p < 2; ++p) {
    pid_t child = fork();
    if (child == 0) {
      std::string why;
      auto store = OpenSqliteJobUnits(path, Key(Units), why);
      if (!store)
        _exit(2);
      JobCountGate gate(Key(Units), std::move(store));
      // Both programs build at once, from the same moment.
      std::ofstream(dir.File("ready-" + std::to_string(p))) << "ready";
      while (!std::filesystem::exists(dir.File("ready-0")) ||
             !std::filesystem::exists(dir.File("ready-1")))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      BuildTally tally;
      // Units long beside a transaction, as on a line: SQLite's busy wait
      // is no queue, and one program taking place after place at once
      // could leave the other none.
      Build(gate, 3, 5, tally, 1 + 10 * p, 20000);
      std::ofstream(dir.File("passed-" + std::to_string(p))) << tally.Passed;
      _exit(tally.LastRefusal == "Job fw-line-a: all 60 units built" ? 0 : 1);
    }
    children.push_back(child);
  }
  uint64_t passed = 0;
  for (int p = 0; p < 2; ++p) {
    int status = 0;
    waitpid(children[size_t(p)], &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "program " << p;
    uint64_t each = 0;
    std::ifstream(dir.File("passed-" + std::to_string(p))) >> each;
    EXPECT_GT(each, 0u) << "program " << p << " built no unit";
    passed += each;
  }
  EXPECT_EQ(passed, Units);
  EXPECT_EQ(Scalar(path, "SELECT count(*) FROM job_units WHERE state = 'passed'"), int(Units));
  EXPECT_EQ(Scalar(path, "SELECT count(*) FROM job_units WHERE state = 'flight'"), 0);
}
