// Records that cannot be written when they come: kept in order and written
// again once the database takes them, spilled beside it past the memory
// bound and at exit, and taken in by the next start. Each stretch of
// failing is said once, and so is its end.
#include "records/Recorder.h"
#include "records/RecordsLocation.h"
#include "records/SqliteStore.h"
#include "tests/records/RecordsTestSupport.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <mutex>
#include <set>
#include <thread>

using namespace kestrune::records;
using namespace kestrune::records::test;
using namespace std::chrono_literals;

namespace {

// The recorder's notices, from any of its threads.
class Notices {
public:
  std::function<void(const std::string &)> Sink() {
    return [this](const std::string &text) {
      std::lock_guard lock(Mutex);
      Texts.push_back(text);
    };
  }
  std::vector<std::string> Taken() {
    std::lock_guard lock(Mutex);
    return Texts;
  }
  // Waits until a notice holds part.
  bool WaitFor(const std::string &part, std::chrono::milliseconds limit) {
    auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
      for (const std::string &t : Taken())
        if (t.find(part) != std::string::npos)
          return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

private:
  std::mutex Mutex;
  std::vector<std::string> Texts;
};

std::vector<Record> AllIn(const std::string &path) {
  std::string why;
  std::vector<Record> out;
  auto store = SqliteStore::Open(path, why);
  EXPECT_TRUE(store) << why;
  if (store) {
    EXPECT_TRUE(store->List({}, out, why)) << why;
  }
  return out;
}

Record Numbered(int i) {
  char started[32];
  std::snprintf(started, sizeof started, "2026-12-08T10:%02d:%02d.000Z", i / 60, i % 60);
  Record r = SampleRecord("st", 1, started);
  r.Id = "00000000-0000-4000-8000-" + std::string(12 - std::to_string(i).size(), '0') +
         std::to_string(i);
  return r;
}

TEST(UnwrittenRecords, DatabaseHeldPastTheBusyWaitLosesNothingAndBothChangesAreSaid) {
  TempDir dir;
  const std::string path = dir.File("r.sqlite");
  Notices notices;
  Recorder recorder({path, "st", notices.Sink()});
  ASSERT_TRUE(recorder.Keeping());
  ASSERT_TRUE(recorder.Keep([] {
    kestrune::RunReport report;
    report.PortOpened = true;
    return report;
  }()));

  // Another program holds the database for longer than the busy wait.
  sqlite3 *other = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  for (int i = 1; i <= 3; ++i)
    recorder.Submit(Numbered(i));
  ASSERT_TRUE(notices.WaitFor("cannot be written", 20s));
  // A run that ends now shows its outcome at once: the failure is said.
  auto before = std::chrono::steady_clock::now();
  kestrune::RunReport late;
  late.PortOpened = true;
  EXPECT_FALSE(recorder.Keep(late));
  EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
  recorder.Submit(Numbered(4));
  EXPECT_EQ(recorder.Waiting(), 5u);
  EXPECT_EQ(recorder.Written(), 1u);
  ASSERT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(other);

  ASSERT_TRUE(notices.WaitFor("written to " + path + " again", 30s));
  recorder.WaitUntilWritten();
  EXPECT_EQ(recorder.Written(), 6u);
  EXPECT_EQ(recorder.Waiting(), 0u);
  recorder.Close();

  auto kept = AllIn(path);
  std::set<std::string> ids;
  for (const Record &r : kept)
    ids.insert(r.Id);
  EXPECT_EQ(kept.size(), 6u);
  for (int i = 1; i <= 4; ++i)
    EXPECT_TRUE(ids.count(Numbered(i).Id)) << i;
  auto said = notices.Taken();
  ASSERT_EQ(said.size(), 2u);
  EXPECT_NE(said[0].find("3 records waiting"), std::string::npos) << said[0];
  EXPECT_NE(said[1].find("written to " + path + " again"), std::string::npos) << said[1];
  EXPECT_FALSE(std::filesystem::exists(recorder.SpillPath()));
}

TEST(UnwrittenRecords, PastTheBoundTheOldestAreSpilledAndTheNextStartTakesThemIn) {
  TempDir dir;
  const std::string path = dir.File("r.sqlite");
  const int count = int(Recorder::MemoryBound) + 7;
  {
    Notices notices;
    Recorder recorder({path, "st", notices.Sink()});
    ASSERT_TRUE(recorder.Keeping());
    // The table goes away under the running program: every write fails.
    sqlite3 *other = nullptr;
    sqlite3_open(path.c_str(), &other);
    ASSERT_EQ(sqlite3_exec(other, "ALTER TABLE runs RENAME TO gone", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(other);
    for (int i = 0; i < count; ++i)
      recorder.Submit(Numbered(i));
    // The oldest seven leave memory for the spill file while it runs.
    auto until = std::chrono::steady_clock::now() + 20s;
    while (recorder.Waiting() > Recorder::MemoryBound && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(10ms);
    EXPECT_EQ(recorder.Waiting(), Recorder::MemoryBound);
    auto spilled = AllIn(recorder.SpillPath());
    ASSERT_EQ(spilled.size(), 7u);
    std::set<std::string> oldest;
    for (const Record &r : spilled)
      oldest.insert(r.Id);
    for (int i = 0; i < 7; ++i)
      EXPECT_TRUE(oldest.count(Numbered(i).Id)) << i;
    recorder.Close();
    EXPECT_EQ(recorder.WriteFailures(), uint64_t(count));
    auto said = notices.Taken();
    ASSERT_FALSE(said.empty());
    EXPECT_NE(said.back().find(recorder.SpillPath()), std::string::npos) << said.back();
    EXPECT_EQ(AllIn(recorder.SpillPath()).size(), size_t(count));
  }
  // The table is mended; the next start takes every spilled record in.
  sqlite3 *other = nullptr;
  sqlite3_open(path.c_str(), &other);
  ASSERT_EQ(sqlite3_exec(other, "ALTER TABLE gone RENAME TO runs", nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(other);
  Notices notices;
  Recorder next({path, "st", notices.Sink()});
  ASSERT_TRUE(next.Keeping());
  next.Close();
  EXPECT_EQ(AllIn(path).size(), size_t(count));
  EXPECT_TRUE(AllIn(SpillPathFor(path)).empty());
  auto said = notices.Taken();
  ASSERT_EQ(said.size(), 1u);
  EXPECT_NE(said[0].find("took in " + std::to_string(count) + " records"), std::string::npos)
      << said[0];
}

TEST(UnwrittenRecords, SpillFileSitsBesideTheDatabase) {
  EXPECT_EQ(SpillPathFor("/a/b/records.sqlite"), "/a/b/records.unwritten.sqlite");
  EXPECT_EQ(SpillPathFor("/a/line.db"), "/a/line.unwritten.db");
  EXPECT_EQ(SpillPathFor("rec"), "rec.unwritten");
}

} // namespace
