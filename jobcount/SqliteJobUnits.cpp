#include "jobcount/JobUnitStore.h"

#include "records/RecordTime.h"
#include "records/SqliteFile.h"
#include "records/SqliteSchema.h"
#include "records/SqliteStatement.h"
#include "serial/ProcessAlive.h"

#include <sqlite3.h>

#include <chrono>
#include <thread>
#include <vector>

namespace kestrune::jobcount {
namespace {

using records::Exec;
using records::Statement;

class SqliteJobUnits : public JobUnitStore {
public:
  SqliteJobUnits(sqlite3 *db, JobKey key) : Db(db), Key(std::move(key)) {}
  ~SqliteJobUnits() override { sqlite3_close(Db); }

  bool FreeLeftBehind(std::string &why) {
    if (!Exec(Db, "BEGIN IMMEDIATE", why))
      return false;
    std::vector<int64_t> gone;
    {
      Statement s(Db, "SELECT id, process FROM job_units WHERE state = 'flight' AND station = ?");
      if (!s)
        return Fail(why);
      s.Text(1, Key.Station);
      while (sqlite3_step(s.get()) == SQLITE_ROW)
        if (!serial::ProcessAlive(sqlite3_column_int64(s.get(), 1)))
          gone.push_back(sqlite3_column_int64(s.get(), 0));
    }
    // Whether their unit passed cannot be known: counted as built, so that
    // the count is never passed.
    for (int64_t id : gone) {
      Statement s(Db, "UPDATE job_units SET state = 'lost' WHERE id = ?");
      if (!s)
        return Fail(why);
      s.Int(1, id);
      if (sqlite3_step(s.get()) != SQLITE_DONE)
        return Fail(why);
    }
    return Exec(Db, "COMMIT", why) || Fail(why);
  }

  // Waits for a database another program holds as sqlite3_busy_timeout
  // would, but gives up at once when the asking channel is stopped.
  void WaitWhileBusy() { sqlite3_busy_handler(Db, &SqliteJobUnits::Busy, this); }

  bool Take(int channel, UnitPlace &place, std::string &why,
            const std::atomic<bool> *stop) override {
    place = UnitPlace{};
    Stop = stop;
    StoppedWhileBusy = false;
    const bool taken = TakeOnce(channel, place, why);
    Stop = nullptr;
    if (!taken && StoppedWhileBusy) {
      place = UnitPlace{};
      place.Stopped = true;
      why = "stopped";
    }
    return taken;
  }

  bool TakeOnce(int channel, UnitPlace &place, std::string &why) {
    if (!Exec(Db, "BEGIN IMMEDIATE", why))
      return false;
    {
      Statement s(Db, "SELECT coalesce(sum(state <> 'flight'), 0), coalesce(sum(state = "
                      "'flight'), 0) FROM job_units WHERE job_name = ? AND job_version = ?");
      if (!s)
        return Fail(why);
      s.Text(1, Key.Name);
      s.Text(2, Key.Version);
      if (sqlite3_step(s.get()) != SQLITE_ROW)
        return Fail(why);
      place.Passed = uint64_t(sqlite3_column_int64(s.get(), 0));
      place.UnderWay = uint64_t(sqlite3_column_int64(s.get(), 1));
    }
    if (place.Passed + place.UnderWay < Key.Units) {
      Statement s(Db, "INSERT INTO job_units (job_name, job_version, state, station, process, "
                      "channel, at) VALUES (?, ?, 'flight', ?, ?, ?, ?)");
      if (!s)
        return Fail(why);
      s.Text(1, Key.Name);
      s.Text(2, Key.Version);
      s.Text(3, Key.Station);
      s.Int(4, serial::CurrentProcessId());
      s.Int(5, channel);
      s.Text(6, IsoUtcTime(std::chrono::system_clock::now()));
      if (sqlite3_step(s.get()) != SQLITE_DONE)
        return Fail(why);
      place.Taken = true;
      place.Ticket = sqlite3_last_insert_rowid(Db);
    }
    if (Exec(Db, "COMMIT", why))
      return true;
    place = UnitPlace{};
    return Fail(why);
  }

  bool Settle(int64_t ticket, bool passed, std::string &why) override {
    if (!passed) {
      if (Drop(ticket, why))
        return true;
      why = sqlite3_errmsg(Db);
      return false;
    }
    Statement s(Db, "UPDATE job_units SET state = 'passed', at = ? WHERE id = ?");
    if (!s) {
      why = sqlite3_errmsg(Db);
      return false;
    }
    s.Text(1, IsoUtcTime(std::chrono::system_clock::now()));
    s.Int(2, ticket);
    if (sqlite3_step(s.get()) == SQLITE_DONE)
      return true;
    why = sqlite3_errmsg(Db);
    return false;
  }

  bool Count(JobPlaces &places, std::string &why) override {
    places = JobPlaces{};
    Statement s(Db, "SELECT coalesce(sum(state = 'passed'), 0), coalesce(sum(state = 'flight'), "
                    "0), coalesce(sum(state = 'lost'), 0), coalesce(sum(state = 'lost' AND "
                    "station = ?), 0) FROM job_units WHERE job_name = ? AND job_version = ?");
    if (!BindStationAndJob(s, why))
      return false;
    if (sqlite3_step(s.get()) != SQLITE_ROW) {
      why = sqlite3_errmsg(Db);
      return false;
    }
    places.Built = uint64_t(sqlite3_column_int64(s.get(), 0));
    places.UnderWay = uint64_t(sqlite3_column_int64(s.get(), 1));
    places.Ended = uint64_t(sqlite3_column_int64(s.get(), 2));
    places.EndedHere = uint64_t(sqlite3_column_int64(s.get(), 3));
    return true;
  }

  bool ReleaseEnded(bool findEnded, uint64_t &released, std::string &why) override {
    released = 0;
    // The places of programs that ended since this store was opened are
    // found first; a place still under way is never touched.
    if (findEnded && !FreeLeftBehind(why))
      return false;
    Statement s(Db, "DELETE FROM job_units WHERE state = 'lost' AND station = ? AND job_name = ? "
                    "AND job_version = ?");
    if (!BindStationAndJob(s, why))
      return false;
    if (sqlite3_step(s.get()) != SQLITE_DONE) {
      why = sqlite3_errmsg(Db);
      return false;
    }
    released = uint64_t(sqlite3_changes(Db));
    return true;
  }

private:
  // Binds ?1 to the station and ?2, ?3 to the job's name and version.
  bool BindStationAndJob(Statement &s, std::string &why) {
    if (!s) {
      why = sqlite3_errmsg(Db);
      return false;
    }
    s.Text(1, Key.Station);
    s.Text(2, Key.Name);
    s.Text(3, Key.Version);
    return true;
  }

  static int Busy(void *self, int count) {
    auto *store = static_cast<SqliteJobUnits *>(self);
    const auto now = std::chrono::steady_clock::now();
    if (count == 0)
      store->BusySince = now;
    if (store->Stop && *store->Stop) {
      store->StoppedWhileBusy = true;
      return 0;
    }
    if (now - store->BusySince >= std::chrono::milliseconds(records::SqliteBusyTimeoutMs))
      return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return 1;
  }

  bool Drop(int64_t id, std::string &why) {
    Statement s(Db, "DELETE FROM job_units WHERE id = ? AND state = 'flight'");
    if (!s)
      return false;
    s.Int(1, id);
    if (sqlite3_step(s.get()) == SQLITE_DONE)
      return true;
    why = sqlite3_errmsg(Db);
    return false;
  }
  // Ends the open transaction; always false.
  bool Fail(std::string &why) {
    if (why.empty())
      why = sqlite3_errmsg(Db);
    std::string ignored;
    Exec(Db, "ROLLBACK", ignored);
    return false;
  }

  sqlite3 *Db;
  JobKey Key;
  const std::atomic<bool> *Stop = nullptr; // of the channel asking now
  bool StoppedWhileBusy = false;
  std::chrono::steady_clock::time_point BusySince;
};

} // namespace

std::unique_ptr<JobUnitStore> OpenSqliteJobUnits(const std::string &path, const JobKey &key,
                                                 std::string &why) {
  sqlite3 *db = records::OpenDurableSqliteFile(
      path, [](sqlite3 *file) { sqlite3_busy_timeout(file, records::SqliteBusyTimeoutMs); }, why);
  if (!db)
    return nullptr;
  auto store = std::make_unique<SqliteJobUnits>(db, key);
  std::string detail;
  if (!records::MigrateSchema(db, detail) || !store->FreeLeftBehind(detail)) {
    why = path + ": " + detail;
    return nullptr;
  }
  store->WaitWhileBusy();
  return store;
}

} // namespace kestrune::jobcount
