// Records reach a real PostgreSQL server exactly once: while it is up,
// after it was down, after a program was killed in the middle of sending,
// and with eight programs sending at once. Each test starts its own server.
#include "handset/VirtualHandset.h"
#include "records/PgRecords.h"
#include "records/Recorder.h"
#include "records/SqliteStore.h"
#include "tests/records/PgForwardFixture.h"
#include "tests/records/PgServer.h"
#include "tests/records/RecordsTestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <pqxx/pqxx>
#include <sqlite3.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

using namespace kestrune::records;
using namespace kestrune::records::test;
using namespace std::chrono;
using kestrune::handset::VirtualHandset;

namespace {

TEST_F(PgForward, RecordsArriveWithEveryField) {
  Record sent = SampleRecord("line-1", 4, "2026-12-08T05:06:07.089Z", "failed");
  sent.FailureC = 3;
  sent.FailureS = 0xFFFFFFFF;
  sent.BytesSent = 5'000'000'000ull;
  sent.ChosenFile = "/srv/전화/line 2.mot";
  {
    Recorder recorder({Url, "ignored-for-given-records", {}});
    ASSERT_TRUE(recorder.Keeping());
    recorder.Submit(sent);
    for (int i = 0; i < 19; ++i)
      recorder.Submit(SampleRecord("line-1", 1, "2026-12-08T05:00:00.000Z"));
    recorder.Close(seconds(20));
  }
  EXPECT_EQ(ServerCount(), 20);
  EXPECT_EQ(LocalPending(), 0);
  pqxx::connection connection(Url);
  auto list = ListPg(connection, {"2026-12-08T05:06", ""});
  ASSERT_EQ(list.size(), 1u);
  const Record &got = list[0];
  EXPECT_EQ(got.Id, sent.Id);
  EXPECT_EQ(got.Started, sent.Started);
  EXPECT_EQ(got.FinalStatus, sent.FinalStatus);
  EXPECT_EQ(got.FailureC, 3u);
  EXPECT_EQ(got.FailureS, 0xFFFFFFFFu);
  EXPECT_EQ(got.BytesSent, sent.BytesSent);
  EXPECT_EQ(got.ImageSha256, sent.ImageSha256);
  EXPECT_EQ(got.ChosenFile, sent.ChosenFile);
  EXPECT_EQ(got.ImagePath, sent.ImagePath);
  EXPECT_EQ(got.Channel, 4);
  EXPECT_DOUBLE_EQ(got.Seconds, sent.Seconds);

  // The listing of the whole line, as JSON.
  ASSERT_EQ(Wait(Spawn({"records", "--records", Url, "--format", "json", "--station", "line-1"},
                       "list.txt")),
            0)
      << Output("list.txt");
  auto json = nlohmann::json::parse(Output("list.txt"));
  EXPECT_EQ(json["records"].size(), 20u);
  EXPECT_EQ(json["summary"][0]["channel"], 1);
  EXPECT_EQ(json["summary"][0]["passed"], 19);
  EXPECT_EQ(json["summary"][1]["failed"], 1);
}

TEST_F(PgForward, RunsGoOnWhileTheServerIsDownAndTheirRecordsArriveLater) {
  Server->Stop();
  std::vector<std::string> notices;
  std::mutex noticesMutex;
  Recorder recorder({Url, "", [&](const std::string &t) {
                       std::lock_guard lock(noticesMutex);
                       notices.push_back(t);
                     }});
  std::vector<steady_clock::duration> costs;
  for (int i = 0; i < 30; ++i) {
    Record record = SampleRecord("s", 1 + i % 8, "2026-12-08T05:00:00.000Z");
    auto before = steady_clock::now();
    recorder.Submit(std::move(record));
    costs.push_back(steady_clock::now() - before);
    std::this_thread::sleep_for(milliseconds(10));
  }
  // A dead server costs a channel nothing: the typical hand-over is far
  // below the 5 ms a record may cost (single ones may lose their core on a
  // busy machine).
  std::sort(costs.begin(), costs.end());
  EXPECT_LT(costs[costs.size() / 2], milliseconds(1));
  EXPECT_LT(costs[costs.size() * 9 / 10], milliseconds(5));
  recorder.WaitUntilWritten();
  EXPECT_EQ(recorder.Written(), 30u);
  EXPECT_EQ(LocalPending(), 30);
  ASSERT_TRUE(Server->Start()) << Server->Error();
  EXPECT_TRUE(WaitForServerCount(30, seconds(30))) << ServerCount();
  recorder.Close(seconds(10));
  EXPECT_EQ(ServerCount(), 30);
  EXPECT_EQ(LocalPending(), 0);
  std::lock_guard lock(noticesMutex);
  ASSERT_GE(notices.size(), 1u);
  EXPECT_NE(notices[0].find("not reaching the server"), std::string::npos) << notices[0];
}

TEST_F(PgForward, CommandLineRunWithTheServerDownIsSentByTheNextStart) {
  VirtualHandset handset;
  ASSERT_TRUE(handset.StartOnPty());
  const std::string image = WriteImage(40000);
  Server->Stop();
  auto before = steady_clock::now();
  int status = Wait(Spawn({"--records", Url, "--station", "st-x", "--image", image,
                           handset.DevicePath()},
                          "flash.txt"));
  const std::string flashOutput = Output("flash.txt");
  EXPECT_EQ(status, 0) << flashOutput;
  EXPECT_NE(flashOutput.find("kestrune-cli: records are not reaching the server"),
            std::string::npos)
      << flashOutput;
  // The run is not held up by the server; the exit waits a bounded time.
  EXPECT_LT(steady_clock::now() - before, seconds(20));
  EXPECT_EQ(LocalPending(), 1);

  ASSERT_TRUE(Server->Start()) << Server->Error();
  ASSERT_EQ(Wait(Spawn({"records", "--records", Url, "--format", "csv"}, "list.txt")), 0)
      << Output("list.txt");
  EXPECT_EQ(ServerCount("station = 'st-x' AND outcome = 'passed' AND channel = 1"), 1);
  EXPECT_NE(Output("list.txt").find("\r\nst-x,1,1,0,0,100.0%\r\n"), std::string::npos)
      << Output("list.txt");
  EXPECT_EQ(LocalPending(), 0);
}

TEST_F(PgForward, ProgramKilledWhileSendingLosesNothingAndDuplicatesNothing) {
  constexpr int Total = 20000;
  {
    std::string why;
    ASSERT_TRUE(SqliteStore::Open(LocalPath(), why)) << why; // the schema
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(LocalPath().c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    for (int i = 0; i < Total; ++i) {
      Record r = SampleRecord("k", 1 + i % 8, "2026-12-08T05:00:00.000Z");
      std::string sql = "INSERT INTO runs (id, started, ended, station, channel, port, outcome) "
                        "VALUES ('" + r.Id + "', '" + r.Started + "', '" + r.Ended + "', 'k', " +
                        std::to_string(r.Channel) + ", 'p', 'passed')";
      ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  // Three programs are killed at different points of the sending. The
  // count is watched on one connection: a new one every few milliseconds
  // starts a server process each time, and on a loaded machine that took
  // the processor from the program being watched.
  pqxx::connection watcher(Url);
  auto count = [&] {
    try {
      pqxx::nontransaction work(watcher);
      return work.exec("SELECT count(*) FROM kestrune_records")[0][0].as<int>();
    } catch (const pqxx::sql_error &) {
      return -1; // no table yet
    }
  };
  int killedAt = 0;
  for (int kill = 0; kill < 3; ++kill) {
    pid_t pid = Spawn({"records", "--records", Url, "--since", "2030-01-01"}, "killed.txt");
    auto until = steady_clock::now() + seconds(30);
    const int target = (kill + 1) * Total / 5;
    while (steady_clock::now() < until && count() < target)
      std::this_thread::sleep_for(milliseconds(5));
    ::kill(pid, SIGKILL);
    Wait(pid);
    killedAt = ServerCount();
    ASSERT_LT(killedAt, Total) << "sent everything before it could be killed";
    ASSERT_GE(killedAt, target);
  }
  EXPECT_GT(LocalPending(), 0);
  // The next start sends the rest (a start lists after at most 10 s of
  // sending; on a busy machine a second start may be needed).
  for (int start = 0; start < 5 && LocalPending() > 0; ++start)
    ASSERT_EQ(Wait(Spawn({"records", "--records", Url, "--since", "2030-01-01"}, "last.txt")), 0)
        << Output("last.txt");
  EXPECT_EQ(ServerCount(), Total);
  EXPECT_EQ(std::stoi(PgScalar(Url, "SELECT count(DISTINCT id) FROM kestrune_records")), Total);
  EXPECT_EQ(LocalPending(), 0);
}

TEST_F(PgForward, EightProgramsSendAtOnce) {
  const std::string image = WriteImage(40000);
  std::vector<std::unique_ptr<VirtualHandset>> handsets;
  std::vector<pid_t> programs;
  for (int i = 0; i < 8; ++i) {
    handsets.push_back(std::make_unique<VirtualHandset>());
    ASSERT_TRUE(handsets.back()->StartOnPty());
  }
  for (int i = 0; i < 8; ++i)
    programs.push_back(Spawn({"--records", Url, "--station", "st-" + std::to_string(i), "--image",
                              image, handsets[size_t(i)]->DevicePath()},
                             "flash" + std::to_string(i) + ".txt"));
  for (int i = 0; i < 8; ++i)
    EXPECT_EQ(Wait(programs[size_t(i)]), 0) << Output("flash" + std::to_string(i) + ".txt");
  // Each program sends its own record, and those of the others it finds.
  EXPECT_TRUE(WaitForServerCount(8, seconds(5))) << ServerCount();
  EXPECT_EQ(std::stoi(PgScalar(Url, "SELECT count(DISTINCT station) FROM kestrune_records "
                                    "WHERE outcome = 'passed'")),
            8);
  EXPECT_EQ(LocalPending(), 0);
}

} // namespace

namespace {

TEST_F(PgForward, TableLockedByAnotherSessionHoldsTheShutdownNoLongerThanItsDeadline) {
  {
    // The table exists, then another session takes it for itself.
    pqxx::connection setup(Url);
    EnsurePgTable(setup);
  }
  pqxx::connection holder(Url);
  pqxx::work holding(holder);
  holding.exec("LOCK TABLE kestrune_records IN ACCESS EXCLUSIVE MODE");

  std::vector<std::string> notices;
  std::mutex noticesMutex;
  auto recorder = std::make_unique<Recorder>(RecorderOptions{Url, "", [&](const std::string &t) {
    std::lock_guard lock(noticesMutex);
    notices.push_back(t);
  }});
  recorder->Submit(SampleRecord("s", 1, "2026-12-08T05:00:00.000Z"));
  recorder->WaitUntilWritten();
  // The forwarder is now waiting on the lock, far longer than the deadline.
  std::this_thread::sleep_for(milliseconds(500));
  auto before = steady_clock::now();
  recorder->Close(seconds(1));
  const auto took = steady_clock::now() - before;
  EXPECT_LT(took, seconds(3)) << duration_cast<milliseconds>(took).count() << " ms";
  recorder.reset();
  // What could not be sent stays for the next start.
  EXPECT_EQ(LocalPending(), 1);
  holding.abort();
}

} // namespace

namespace {

TEST_F(PgForward, ServerThatWentAwayIsSaidInPlainWordsWithItsReason) {
  std::vector<std::string> notices;
  std::mutex noticesMutex;
  Recorder recorder({Url, "", [&](const std::string &t) {
                       std::lock_guard lock(noticesMutex);
                       notices.push_back(t);
                     }});
  recorder.Submit(SampleRecord("s", 1, "2026-12-08T05:00:00.000Z"));
  ASSERT_TRUE(WaitForServerCount(1, seconds(30)));
  // The connection is open and idle when the server goes away.
  Server->Stop();
  recorder.Submit(SampleRecord("s", 2, "2026-12-08T05:00:01.000Z"));
  std::string told;
  for (auto until = steady_clock::now() + seconds(20); told.empty() && steady_clock::now() < until;) {
    std::this_thread::sleep_for(milliseconds(20));
    std::lock_guard lock(noticesMutex);
    for (const std::string &t : notices)
      if (t.find("not reaching the server") != std::string::npos)
        told = t;
  }
  recorder.Close(milliseconds(0));
  ASSERT_FALSE(told.empty());
  EXPECT_EQ(told.find("client encoding"), std::string::npos) << told;
  EXPECT_NE(told.find("went away"), std::string::npos) << told;
}

} // namespace

TEST_F(PgForward, SerialValuesArriveAndFindTheLinesRuns) {
  Record first = SampleRecord("line-1", 1, "2026-12-08T05:00:00.000Z");
  first.Serials = {{"sn", "0000001000"}, {"mac", "02:00:00:00:00:01"}};
  first.SentSha256 = std::string(64, 'c');
  Record second = SampleRecord("line-2", 3, "2026-12-08T05:00:01.000Z", "failed");
  second.Serials = {{"sn", "0000001001"}};
  second.SentSha256 = std::string(64, 'd');
  Record plain = SampleRecord("line-2", 4, "2026-12-08T05:00:02.000Z");
  {
    pqxx::connection setup(Url);
    EnsurePgTable(setup);
    // A table of an older program: its columns are added, its rows kept.
    pqxx::work work(setup);
    work.exec("ALTER TABLE kestrune_records DROP COLUMN serials, DROP COLUMN sent_sha256");
    work.commit();
  }
  {
    Recorder recorder({Url, "ignored", {}});
    ASSERT_TRUE(recorder.Keeping());
    for (const Record &r : {first, second, plain})
      recorder.Submit(r);
    recorder.Close(seconds(20));
  }
  ASSERT_EQ(ServerCount(), 3);
  pqxx::connection connection(Url);
  RecordFilter filter;
  auto all = ListPg(connection, filter);
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[2].Serials, first.Serials); // in the order written
  EXPECT_EQ(all[2].SentSha256, first.SentSha256);
  EXPECT_TRUE(all[0].Serials.empty());
  filter.Serial = "02:00:00:00:00:01";
  auto found = ListPg(connection, filter);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].Id, first.Id);
  filter.Serial = "000000100";
  EXPECT_TRUE(ListPg(connection, filter).empty());

  ASSERT_EQ(Wait(Spawn({"records", "--records", Url, "--format", "json", "--serial-value",
                        "0000001001"},
                       "serial.txt")),
            0)
      << Output("serial.txt");
  auto json = nlohmann::json::parse(Output("serial.txt"));
  ASSERT_EQ(json["records"].size(), 1u);
  EXPECT_EQ(json["records"][0]["serials"], (nlohmann::json{{"sn", "0000001001"}}));
  EXPECT_EQ(json["records"][0]["sent_sha256"], second.SentSha256);
}
