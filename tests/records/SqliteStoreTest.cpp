// The local database: what goes in comes out, newest first and filtered;
// a database of the first schema is migrated with its rows; several
// processes write at once, and open a new file together; a database that cannot be used never stops a run.
#include "records/Recorder.h"
#include "records/SqliteSchema.h"
#include "records/SqliteStore.h"
#include "tests/records/RecordsTestSupport.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <set>

using namespace kestrune::records;
using namespace kestrune::records::test;

namespace {

std::unique_ptr<SqliteStore> OpenOrFail(const std::string &path) {
  std::string why;
  auto store = SqliteStore::Open(path, why);
  EXPECT_TRUE(store) << why;
  return store;
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

TEST(SqliteStore, KeepsEveryFieldAndListsNewestFirstWithFilters) {
  TempDir dir;
  const std::string path = dir.File("sub/folder/records.sqlite"); // folders made on demand
  auto store = OpenOrFail(path);
  ASSERT_TRUE(store);
  Record failed = SampleRecord("st-a", 2, "2026-12-08T05:00:00.250Z", "failed");
  failed.FailureC = 3;
  failed.FailureS = 0x80000010;
  failed.BlocksResent = 4;
  failed.BytesSent = 5'000'000'000ull; // past 32 bits
  failed.ChosenFile = "/srv/전화 images/v2, \"new\".mot";
  std::string why;
  ASSERT_TRUE(store->Insert(SampleRecord("st-a", 1, "2026-12-07T23:59:59.999Z"), why)) << why;
  ASSERT_TRUE(store->Insert(failed, why)) << why;
  ASSERT_TRUE(store->Insert(SampleRecord("st-b", 1, "2026-12-08T04:00:00.000Z"), why)) << why;
  ASSERT_TRUE(store->Insert(failed, why)) << why; // the same id again changes nothing

  std::vector<Record> all;
  ASSERT_TRUE(store->List({}, all, why)) << why;
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].Id, failed.Id);
  EXPECT_EQ(all[2].Started, "2026-12-07T23:59:59.999Z");
  const Record &back = all[0];
  EXPECT_EQ(back.FailureC, 3u);
  EXPECT_EQ(back.FailureS, 0x80000010u);
  EXPECT_EQ(back.BytesSent, 5'000'000'000ull);
  EXPECT_EQ(back.BlocksResent, 4u);
  EXPECT_EQ(back.FinalStatus, failed.FinalStatus);
  EXPECT_EQ(back.ImageSha256, failed.ImageSha256);
  EXPECT_EQ(back.RamProgramSha256, failed.RamProgramSha256);
  EXPECT_EQ(back.ChosenFile, failed.ChosenFile);
  EXPECT_EQ(back.ImagePath, failed.ImagePath);
  EXPECT_EQ(all[1].ChosenFile, "/srv/images/phone.mot");
  EXPECT_DOUBLE_EQ(back.Seconds, 12.5);
  EXPECT_FALSE(all[1].FailureC.has_value());

  std::vector<Record> some;
  ASSERT_TRUE(store->List({"2026-12-08", "st-a"}, some, why));
  ASSERT_EQ(some.size(), 1u);
  EXPECT_EQ(some[0].Id, failed.Id);
}

TEST(SqliteStore, PendingUntilMarkedForwarded) {
  TempDir dir;
  auto store = OpenOrFail(dir.File("r.sqlite"));
  std::string why;
  std::vector<std::string> ids;
  for (int i = 0; i < 5; ++i) {
    Record r = SampleRecord("s", 1, "2026-12-08T05:00:0" + std::to_string(i) + ".000Z");
    ids.push_back(r.Id);
    ASSERT_TRUE(store->Insert(r, why));
  }
  std::vector<Record> pending;
  ASSERT_TRUE(store->Pending(3, pending, why));
  ASSERT_EQ(pending.size(), 3u);
  EXPECT_EQ(pending[0].Id, ids[0]); // oldest first
  ASSERT_TRUE(store->MarkForwarded({ids[0], ids[1], ids[2]}, why));
  pending.clear();
  ASSERT_TRUE(store->Pending(10, pending, why));
  ASSERT_EQ(pending.size(), 2u);
  EXPECT_EQ(pending[0].Id, ids[3]);
}

TEST(SqliteStore, FirstSchemaIsMigratedKeepingItsRows) {
  TempDir dir;
  const std::string path = dir.File("old.sqlite");
  {
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    std::string why;
    ASSERT_TRUE(CreateSchemaVersion1(db, why)) << why;
    ASSERT_EQ(sqlite3_exec(db,
                           "INSERT INTO runs (id, started, ended, station, channel, port, "
                           "outcome, final_status, failure_c) VALUES ('11111111-2222-4333-8444-"
                           "555555555555', '2026-01-02T03:04:05.006Z', '2026-01-02T03:05:00.000Z',"
                           " 'old-station', 3, '/dev/ttyS2', 'failed', 'ERROR old', 7)",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
  }
  ASSERT_EQ(Scalar(path, "PRAGMA user_version"), 1);
  auto store = OpenOrFail(path);
  ASSERT_TRUE(store);
  EXPECT_EQ(Scalar(path, "PRAGMA user_version"), CurrentSchemaVersion);
  EXPECT_EQ(Scalar(path, "SELECT count(*) FROM pragma_table_info('runs') WHERE name = "
                         "'forwarded'"),
            1);
  std::string why;
  std::vector<Record> all, pending;
  ASSERT_TRUE(store->List({}, all, why)) << why;
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].Station, "old-station");
  EXPECT_EQ(all[0].FailureC, 7u);
  EXPECT_EQ(all[0].RamProgramSha256, "");
  // Kept before a server could be named: it still goes to one.
  ASSERT_TRUE(store->Pending(10, pending, why));
  EXPECT_EQ(pending.size(), 1u);
  // The new columns take values.
  Record r = SampleRecord("new", 1, "2026-12-08T00:00:00.000Z");
  r.PortStableName = "/dev/serial/by-id/usb-x";
  ASSERT_TRUE(store->Insert(r, why)) << why;
  EXPECT_EQ(Scalar(path, "SELECT count(*) FROM runs WHERE port_stable_name <> ''"), 1);
  // Runs kept before the unit column were counted as units, and still are.
  EXPECT_TRUE(all[0].Unit);
  Record none = SampleRecord("none", 2, "2026-12-08T00:00:01.000Z", "failed");
  none.Unit = false;
  ASSERT_TRUE(store->Insert(none, why)) << why;
  EXPECT_EQ(Scalar(path, "SELECT count(*) FROM runs WHERE unit = 0"), 1);
  all.clear();
  ASSERT_TRUE(store->List({}, all, why)) << why;
  ASSERT_EQ(all.size(), 3u);
  for (const Record &kept : all)
    EXPECT_EQ(kept.Unit, kept.Station != "none") << kept.Station;
  // Runs kept before the chosen file was recorded have none; later ones keep theirs.
  for (const Record &kept : all)
    EXPECT_EQ(kept.ChosenFile, kept.Station == "old-station" ? "" : "/srv/images/phone.mot")
        << kept.Station;
}

TEST(SqliteStore, ThirdSchemaGainsTheChosenFileKeepingItsRows) {
  TempDir dir;
  const std::string path = dir.File("v3.sqlite");
  {
    auto store = OpenOrFail(path);
    ASSERT_TRUE(store);
    std::string why;
    ASSERT_TRUE(store->Insert(SampleRecord("v3", 1, "2026-12-01T00:00:00.000Z"), why)) << why;
  }
  // Back to how the third schema left it: none of the later columns.
  {
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "DROP INDEX runs_job; DROP TABLE job_units; "
                           "ALTER TABLE runs DROP COLUMN job_name; "
                           "ALTER TABLE runs DROP COLUMN job_version; "
                           "ALTER TABLE runs DROP COLUMN job_sha256; "
                           "ALTER TABLE runs DROP COLUMN chosen_file; "
                           "ALTER TABLE runs DROP COLUMN serials; "
                           "ALTER TABLE runs DROP COLUMN sent_sha256; PRAGMA user_version = 3",
                           nullptr, nullptr, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);
  }
  ASSERT_EQ(Scalar(path, "SELECT count(*) FROM pragma_table_info('runs') WHERE name = "
                         "'chosen_file'"),
            0);
  auto store = OpenOrFail(path);
  ASSERT_TRUE(store);
  EXPECT_EQ(Scalar(path, "PRAGMA user_version"), CurrentSchemaVersion);
  std::string why;
  Record later = SampleRecord("v4", 2, "2026-12-02T00:00:00.000Z");
  later.ChosenFile = "/line/today.mot";
  ASSERT_TRUE(store->Insert(later, why)) << why;
  std::vector<Record> all;
  ASSERT_TRUE(store->List({}, all, why)) << why;
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].ChosenFile, "/line/today.mot");
  EXPECT_EQ(all[1].Station, "v3");
  EXPECT_EQ(all[1].ChosenFile, "");
  EXPECT_EQ(all[1].ImagePath, "/srv/images/phone.bif");
}

TEST(SqliteStore, UsesWalAndRefusesANewerSchema) {
  TempDir dir;
  const std::string path = dir.File("r.sqlite");
  ASSERT_TRUE(OpenOrFail(path));
  sqlite3 *db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_stmt *s = nullptr;
  sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &s, nullptr);
  ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char *>(sqlite3_column_text(s, 0)), "wal");
  sqlite3_finalize(s);
  sqlite3_exec(db, "PRAGMA user_version = 99", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  std::string why;
  EXPECT_FALSE(SqliteStore::Open(path, why));
  EXPECT_NE(why.find("newer program"), std::string::npos) << why;
}

TEST(SqliteStore, SeveralProcessesWriteAtOnce) {
  TempDir dir;
  const std::string path = dir.File("shared.sqlite");
  // Each record is a transaction of its own, flushed to the disk: on a
  // loaded machine 900 of them once left one process waiting past the busy
  // timeout (the recorder tries again; the store alone does not).
  constexpr int Processes = 6, Each = 60;
  std::vector<pid_t> children;
  for (int p = 0; p < Processes; ++p) {
    pid_t pid = fork();
    if (pid == 0) {
      // Each child opens its own connection, as separate programs do.
      std::string why;
      auto store = SqliteStore::Open(path, why);
      int written = 0;
      for (int i = 0; store && i < Each; ++i)
        written += store->Insert(SampleRecord("p" + std::to_string(p), 1,
                                              "2026-12-08T05:00:00.000Z"),
                                 why);
      if (written != Each)
        std::fprintf(stderr, "process %d wrote %d of %d: %s\n", p, written, Each, why.c_str());
      _exit(written == Each ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(Scalar(path, "SELECT count(*) FROM runs"), Processes * Each);
  EXPECT_EQ(Scalar(path, "SELECT count(DISTINCT station) FROM runs"), Processes);
}

// Programs started together against a station's first, still missing,
// database: each one opens it and keeps its record. All of them wait on one
// pipe and open the file the moment it closes.
TEST(SqliteStore, ProgramsOpeningANewFileTogetherAllKeepTheirRecords) {
  TempDir dir;
  constexpr int Rounds = 40, Processes = 6;
  for (int round = 0; round < Rounds; ++round) {
    const std::string path = dir.File("new-" + std::to_string(round) + ".sqlite");
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    std::vector<pid_t> children;
    for (int p = 0; p < Processes; ++p) {
      pid_t pid = fork();
      if (pid == 0) {
        ::close(gate[1]);
        char byte;
        while (::read(gate[0], &byte, 1) > 0) {
        }
        std::string why;
        auto store = SqliteStore::Open(path, why);
        bool kept = store && store->Insert(SampleRecord("p" + std::to_string(p), 1,
                                                        "2026-12-08T05:00:00.000Z"),
                                           why);
        if (!kept)
          std::fprintf(stderr, "round %d, process %d: %s\n", round, p, why.c_str());
        _exit(kept ? 0 : 1);
      }
      children.push_back(pid);
    }
    ::close(gate[0]);
    ::close(gate[1]);
    int failed = 0;
    for (pid_t pid : children) {
      int status = 0;
      waitpid(pid, &status, 0);
      failed += !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    ASSERT_EQ(failed, 0) << "round " << round;
    EXPECT_EQ(Scalar(path, "SELECT count(*) FROM runs"), Processes);
  }
}

TEST(Recorder, UnusableDatabaseIsToldOnceAndRunsGoOn) {
  TempDir dir;
  // A folder where the file should be: it cannot be opened as a database.
  std::filesystem::create_directories(dir.Path() / "records.sqlite");
  std::vector<std::string> notices;
  Recorder recorder({dir.File("records.sqlite"), "s", [&](const std::string &t) {
                       notices.push_back(t);
                     }});
  EXPECT_FALSE(recorder.Keeping());
  kestrune::RunReport report;
  report.PortOpened = true;
  auto before = std::chrono::steady_clock::now();
  for (int i = 0; i < 3; ++i)
    recorder.Submit(report);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(50));
  recorder.Close();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].rfind("records are not being kept: ", 0), 0u) << notices[0];
  EXPECT_NE(notices[0].find("records.sqlite"), std::string::npos) << notices[0];
}

TEST(Recorder, WriteFailureIsToldOnceAndLaterRunsStillReturnAtOnce) {
  TempDir dir;
  const std::string path = dir.File("r.sqlite");
  std::vector<std::string> notices;
  std::mutex noticesMutex;
  Recorder recorder({path, "s", [&](const std::string &t) {
                       std::lock_guard lock(noticesMutex);
                       notices.push_back(t);
                     }});
  ASSERT_TRUE(recorder.Keeping());
  // Someone removes the table under the running program.
  sqlite3 *other = nullptr;
  sqlite3_open(path.c_str(), &other);
  ASSERT_EQ(sqlite3_exec(other, "DROP TABLE runs", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(other);
  kestrune::RunReport report;
  report.PortOpened = true;
  // The hand-over's typical cost; a single one may lose its core on a busy
  // machine, which is no cost of the code.
  std::vector<std::chrono::steady_clock::duration> costs;
  for (int i = 0; i < 21; ++i) {
    auto before = std::chrono::steady_clock::now();
    recorder.Submit(report);
    costs.push_back(std::chrono::steady_clock::now() - before);
  }
  std::sort(costs.begin(), costs.end());
  EXPECT_LT(costs[costs.size() / 2], std::chrono::milliseconds(1));
  recorder.Close();
  EXPECT_EQ(recorder.WriteFailures(), 21u);
  EXPECT_EQ(recorder.Written(), 0u);
  std::lock_guard lock(noticesMutex);
  // Said once while running, and where the unwritten ones went at exit.
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_NE(notices[0].find("cannot be written to"), std::string::npos) << notices[0];
  EXPECT_NE(notices[1].find("21 records could not be written"), std::string::npos) << notices[1];
  EXPECT_NE(notices[1].find(recorder.SpillPath()), std::string::npos) << notices[1];
  std::string why;
  auto spill = SqliteStore::Open(recorder.SpillPath(), why);
  ASSERT_TRUE(spill) << why;
  std::vector<Record> kept;
  ASSERT_TRUE(spill->List({}, kept, why)) << why;
  EXPECT_EQ(kept.size(), 21u);
}

TEST(Recorder, NoneKeepsNothingAndOpensNothing) {
  TempDir dir;
  setenv("XDG_DATA_HOME", dir.Path().c_str(), 1);
  Recorder recorder({"none", "", {}});
  EXPECT_FALSE(recorder.Keeping());
  kestrune::RunReport report;
  report.PortOpened = true;
  recorder.Submit(report);
  recorder.Close();
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

} // namespace
