#include "records/SqliteStore.h"

#include "records/SerialsText.h"
#include "records/SqliteFile.h"
#include "records/SqliteSchema.h"
#include "records/SqliteStatement.h"

#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <system_error>
#include <thread>

namespace kestrune::records {
namespace {

const char *const Columns =
    "id, started, ended, station, channel, port, port_stable_name, image_path, image_size, "
    "image_sha256, ram_program_sha256, speed, identification, outcome, final_status, "
    "error_code, failure_c, failure_s, blocks_resent, bytes_sent, seconds, program_version, unit, "
    "chosen_file, serials, sent_sha256, job_name, job_version, job_sha256";

std::string ColumnText(sqlite3_stmt *s, int i) {
  const unsigned char *text = sqlite3_column_text(s, i);
  return text ? reinterpret_cast<const char *>(text) : "";
}

std::optional<uint32_t> ColumnOptional(sqlite3_stmt *s, int i) {
  if (sqlite3_column_type(s, i) == SQLITE_NULL)
    return std::nullopt;
  return uint32_t(sqlite3_column_int64(s, i));
}

Record ReadRow(sqlite3_stmt *s) {
  Record r;
  r.Id = ColumnText(s, 0);
  r.Started = ColumnText(s, 1);
  r.Ended = ColumnText(s, 2);
  r.Station = ColumnText(s, 3);
  r.Channel = sqlite3_column_int(s, 4);
  r.Port = ColumnText(s, 5);
  r.PortStableName = ColumnText(s, 6);
  r.ImagePath = ColumnText(s, 7);
  r.ImageSize = uint64_t(sqlite3_column_int64(s, 8));
  r.ImageSha256 = ColumnText(s, 9);
  r.RamProgramSha256 = ColumnText(s, 10);
  r.Speed = uint32_t(sqlite3_column_int64(s, 11));
  r.Identification = ColumnText(s, 12);
  r.Outcome = ColumnText(s, 13);
  r.FinalStatus = ColumnText(s, 14);
  r.ErrorCode = uint32_t(sqlite3_column_int64(s, 15));
  r.FailureC = ColumnOptional(s, 16);
  r.FailureS = ColumnOptional(s, 17);
  r.BlocksResent = uint32_t(sqlite3_column_int64(s, 18));
  r.BytesSent = uint64_t(sqlite3_column_int64(s, 19));
  r.Seconds = sqlite3_column_double(s, 20);
  r.ProgramVersion = ColumnText(s, 21);
  r.Unit = sqlite3_column_int(s, 22) != 0;
  r.ChosenFile = ColumnText(s, 23);
  r.Serials = SerialsFromJson(ColumnText(s, 24));
  r.SentSha256 = ColumnText(s, 25);
  r.JobName = ColumnText(s, 26);
  r.JobVersion = ColumnText(s, 27);
  r.JobSha256 = ColumnText(s, 28);
  return r;
}

bool ReadAll(sqlite3 *db, Statement &statement, std::vector<Record> &out, std::string &why) {
  int rc;
  while ((rc = sqlite3_step(statement.get())) == SQLITE_ROW)
    out.push_back(ReadRow(statement.get()));
  if (rc == SQLITE_DONE)
    return true;
  why = sqlite3_errmsg(db);
  return false;
}

} // namespace

std::unique_ptr<SqliteStore> SqliteStore::Open(const std::string &path, std::string &why) {
  sqlite3 *db = OpenDurableSqliteFile(
      path, [](sqlite3 *file) { sqlite3_busy_timeout(file, SqliteBusyTimeoutMs); }, why);
  if (!db)
    return nullptr;
  std::unique_ptr<SqliteStore> store(new SqliteStore(db, path));
  std::string detail;
  if (!MigrateSchema(db, detail)) {
    why = path + ": " + detail;
    return nullptr;
  }
  return store;
}

SqliteStore::~SqliteStore() { sqlite3_close(Db); }

bool SqliteStore::Insert(const Record &r, std::string &why) {
  Statement s(Db, std::string("INSERT OR IGNORE INTO runs (") + Columns +
                      ") VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
  if (!s) {
    why = sqlite3_errmsg(Db);
    return false;
  }
  s.Text(1, r.Id);
  s.Text(2, r.Started);
  s.Text(3, r.Ended);
  s.Text(4, r.Station);
  s.Int(5, r.Channel);
  s.Text(6, r.Port);
  s.Text(7, r.PortStableName);
  s.Text(8, r.ImagePath);
  s.Int(9, int64_t(r.ImageSize));
  s.Text(10, r.ImageSha256);
  s.Text(11, r.RamProgramSha256);
  s.Int(12, r.Speed);
  s.Text(13, r.Identification);
  s.Text(14, r.Outcome);
  s.Text(15, r.FinalStatus);
  s.Int(16, r.ErrorCode);
  if (r.FailureC)
    s.Int(17, *r.FailureC);
  if (r.FailureS)
    s.Int(18, *r.FailureS);
  s.Int(19, r.BlocksResent);
  s.Int(20, int64_t(r.BytesSent));
  sqlite3_bind_double(s.get(), 21, r.Seconds);
  s.Text(22, r.ProgramVersion);
  s.Int(23, r.Unit ? 1 : 0);
  s.Text(24, r.ChosenFile);
  s.Text(25, SerialsToJson(r.Serials));
  s.Text(26, r.SentSha256);
  s.Text(27, r.JobName);
  s.Text(28, r.JobVersion);
  s.Text(29, r.JobSha256);
  // A single statement is its own transaction.
  if (sqlite3_step(s.get()) != SQLITE_DONE) {
    why = sqlite3_errmsg(Db);
    return false;
  }
  return true;
}

bool SqliteStore::InsertAll(const std::vector<Record> &records, std::string &why) {
  if (records.size() == 1)
    return Insert(records.front(), why);
  if (!Exec(Db, "BEGIN IMMEDIATE", why))
    return false;
  for (const Record &r : records) {
    if (!Insert(r, why)) {
      std::string ignored;
      Exec(Db, "ROLLBACK", ignored);
      return false;
    }
  }
  if (Exec(Db, "COMMIT", why))
    return true;
  std::string ignored;
  Exec(Db, "ROLLBACK", ignored);
  return false;
}

bool SqliteStore::MoveAllInto(SqliteStore &target, size_t &moved, std::string &why) {
  moved = 0;
  // Held while moving: a program writing here at the same time waits, and
  // nothing it writes is emptied away unmoved.
  if (!Exec(Db, "BEGIN IMMEDIATE", why))
    return false;
  std::vector<Record> all;
  std::string ignored;
  if (!List({}, all, why) || (!all.empty() && !target.InsertAll(all, why)) ||
      !Exec(Db, "DELETE FROM runs", why) || !Exec(Db, "COMMIT", why)) {
    Exec(Db, "ROLLBACK", ignored);
    return false;
  }
  moved = all.size();
  return true;
}

bool SqliteStore::Pending(size_t limit, std::vector<Record> &out, std::string &why) {
  Statement s(Db, std::string("SELECT ") + Columns +
                      " FROM runs WHERE forwarded = 0 ORDER BY started LIMIT ?");
  if (!s) {
    why = sqlite3_errmsg(Db);
    return false;
  }
  s.Int(1, int64_t(limit));
  return ReadAll(Db, s, out, why);
}

bool SqliteStore::CountPending(uint64_t &count, std::string &why) {
  Statement s(Db, "SELECT count(*) FROM runs WHERE forwarded = 0");
  if (!s || sqlite3_step(s.get()) != SQLITE_ROW) {
    why = sqlite3_errmsg(Db);
    return false;
  }
  count = uint64_t(sqlite3_column_int64(s.get(), 0));
  return true;
}

bool SqliteStore::MarkForwarded(const std::vector<std::string> &ids, std::string &why) {
  if (!Exec(Db, "BEGIN IMMEDIATE", why))
    return false;
  Statement s(Db, "UPDATE runs SET forwarded = 1 WHERE id = ?");
  bool ok = bool(s);
  for (size_t i = 0; ok && i < ids.size(); ++i) {
    sqlite3_reset(s.get());
    s.Text(1, ids[i]);
    ok = sqlite3_step(s.get()) == SQLITE_DONE;
  }
  if (!ok) {
    why = sqlite3_errmsg(Db);
    std::string ignored;
    Exec(Db, "ROLLBACK", ignored);
    return false;
  }
  return Exec(Db, "COMMIT", why);
}

bool SqliteStore::ForEach(const RecordFilter &filter,
                          const std::function<void(const Record &)> &take, std::string &why) {
  Statement s(Db, std::string("SELECT ") + Columns +
                      " FROM runs WHERE started >= ? AND (? = '' OR station = ?)"
                      " AND (? = '' OR EXISTS (SELECT 1 FROM json_each(runs.serials)"
                      " WHERE json_each.value = ?))"
                      " AND (? = '' OR job_name = ?) AND (? = '' OR job_version = ?)"
                      " ORDER BY started DESC, channel DESC");
  if (!s) {
    why = sqlite3_errmsg(Db);
    return false;
  }
  s.Text(1, filter.Since);
  s.Text(2, filter.Station);
  s.Text(3, filter.Station);
  s.Text(4, filter.Serial);
  s.Text(5, filter.Serial);
  s.Text(6, filter.JobName);
  s.Text(7, filter.JobName);
  s.Text(8, filter.JobVersion);
  s.Text(9, filter.JobVersion);
  int rc;
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW)
    take(ReadRow(s.get()));
  if (rc == SQLITE_DONE)
    return true;
  why = sqlite3_errmsg(Db);
  return false;
}

bool SqliteStore::List(const RecordFilter &filter, std::vector<Record> &out, std::string &why) {
  return ForEach(filter, [&out](const Record &r) { out.push_back(r); }, why);
}

} // namespace kestrune::records
