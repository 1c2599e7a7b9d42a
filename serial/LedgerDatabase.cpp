#include "serial/LedgerDatabase.h"

#include "records/SqliteFile.h"

#include <array>
#include <chrono>
#include <filesystem>
#include <system_error>
#include <thread>

namespace kestrune::serial {
namespace {

using records::OpenDurableSqliteFile;
constexpr int BusyTimeoutMs = records::SqliteBusyTimeoutMs;

// Version 1. A pool's next position never handed out; one row per position
// handed out, with its text and state (claimed, passed, spent, returned,
// skipped); the programs that hold claims; a line's leases kept here.
const char *const Version1 = R"sql(
CREATE TABLE serial_pools (
  pool TEXT PRIMARY KEY NOT NULL,
  field TEXT NOT NULL,
  next INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE serial_values (
  pool TEXT NOT NULL,
  position INTEGER NOT NULL,
  field TEXT NOT NULL,
  text TEXT NOT NULL,
  state TEXT NOT NULL,
  claim INTEGER NOT NULL DEFAULT 0,
  station TEXT NOT NULL DEFAULT '',
  channel INTEGER NOT NULL DEFAULT 0,
  claimed_at TEXT NOT NULL DEFAULT '',
  settled_at TEXT NOT NULL DEFAULT '',
  reported INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY (pool, position)
);
CREATE INDEX serial_values_text ON serial_values (field, text);
CREATE INDEX serial_values_state ON serial_values (pool, state, position);
CREATE INDEX serial_values_claim ON serial_values (claim) WHERE state = 'claimed';
CREATE INDEX serial_values_unreported ON serial_values (reported) WHERE reported = 0;
CREATE TABLE serial_sessions (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  host TEXT NOT NULL,
  pid INTEGER NOT NULL,
  opened TEXT NOT NULL
);
CREATE TABLE serial_claims (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  session INTEGER NOT NULL
);
CREATE TABLE serial_leases (
  pool TEXT NOT NULL,
  lease INTEGER NOT NULL,
  first INTEGER NOT NULL,
  end INTEGER NOT NULL,
  next INTEGER NOT NULL,
  released INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY (pool, lease)
);
)sql";

// Version 2: positions a program holds ready for its next claims (state
// reserved), made durable ahead, so that a claim itself need not wait for
// the disk; the program they belong to.
const char *const Version2 = R"sql(
ALTER TABLE serial_values ADD COLUMN session INTEGER NOT NULL DEFAULT 0;
CREATE INDEX serial_values_reserved ON serial_values (pool, session, position)
  WHERE state = 'reserved';
)sql";

// Version 3: the start of the program that opened a session, beside its
// process number, so that a number given again to another program does not
// keep the ended one's claims open.
const char *const Version3 = R"sql(
ALTER TABLE serial_sessions ADD COLUMN started TEXT NOT NULL DEFAULT '';
)sql";

const std::array<const char *, CurrentLedgerVersion> Steps = {Version1, Version2, Version3};

// SQLite's own wait sleeps 1, 2, 5, 10 ms and longer between tries, so a
// claim meeting the short write of the thread that reserves ahead would
// wait far longer than that write takes. Tried again every 0.2 ms instead
// for the first few milliseconds, then every millisecond, up to the same
// time. The wait is bounded by the clock, not by a number of tries: on
// Windows a sleep shorter than a millisecond returns at once, and 50,000
// tries of nothing gave up within a few milliseconds.
constexpr std::chrono::microseconds ShortStep{200};
constexpr std::chrono::milliseconds ShortSteps{5};
constexpr std::chrono::milliseconds LongStep{1};

int BusyWait(void *, int tries) {
  using Clock = std::chrono::steady_clock;
  // The handler runs on the thread whose statement met the lock, and a
  // wait begins again with tries at 0.
  thread_local Clock::time_point began;
  const Clock::time_point now = Clock::now();
  if (tries == 0)
    began = now;
  const auto waited = now - began;
  if (waited >= std::chrono::milliseconds(BusyTimeoutMs))
    return 0;
  std::this_thread::sleep_for(waited < ShortSteps ? std::chrono::nanoseconds(ShortStep)
                                                  : std::chrono::nanoseconds(LongStep));
  return 1;
}

bool ReadVersion(sqlite3 *db, int &version, std::string &why) {
  Statement s(db, "SELECT max(version) FROM serial_schema");
  if (!s || s.Step() != SQLITE_ROW) {
    why = sqlite3_errmsg(db);
    return false;
  }
  version = int(s.ColumnInt(0));
  return true;
}

bool Migrate(sqlite3 *db, std::string &why) {
  if (!Exec(db, "BEGIN IMMEDIATE", why))
    return false;
  int version = 0;
  bool ok = Exec(db, "CREATE TABLE IF NOT EXISTS serial_schema (version INTEGER NOT NULL)", why) &&
            ReadVersion(db, version, why);
  if (ok && version > CurrentLedgerVersion) {
    why = "the serial values in this database are of a newer program (ledger version " +
          std::to_string(version) + ")";
    ok = false;
  }
  while (ok && version < CurrentLedgerVersion) {
    ++version;
    std::string set = "INSERT INTO serial_schema (version) VALUES (" + std::to_string(version) + ")";
    ok = Exec(db, Steps[size_t(version - 1)], why) && Exec(db, set.c_str(), why);
  }
  if (!ok) {
    std::string ignored;
    Exec(db, "ROLLBACK", ignored);
    return false;
  }
  return Exec(db, "COMMIT", why);
}

} // namespace

sqlite3 *OpenLedgerDatabase(const std::string &path, std::string &why) {
  sqlite3 *db = OpenDurableSqliteFile(
      path, [](sqlite3 *file) { sqlite3_busy_handler(file, BusyWait, nullptr); }, why);
  if (!db)
    return nullptr;
  std::string detail;
  if (!Migrate(db, detail)) {
    why = path + ": " + detail;
    sqlite3_close(db);
    return nullptr;
  }
  return db;
}

Statement::Statement(sqlite3 *db, const char *sql) {
  if (sqlite3_prepare_v2(db, sql, -1, &S, nullptr) != SQLITE_OK)
    S = nullptr;
}

Statement::Statement(StatementCache &cache, const char *sql) : S(cache.Get(sql)), Owned(false) {}

Statement::~Statement() {
  if (Owned) {
    sqlite3_finalize(S);
    return;
  }
  // Back in the cache with no read left open and no value kept.
  sqlite3_reset(S);
  sqlite3_clear_bindings(S);
}

StatementCache::~StatementCache() {
  for (auto &[sql, statement] : Prepared)
    sqlite3_finalize(statement);
}

sqlite3_stmt *StatementCache::Get(const char *sql) {
  auto found = Prepared.find(sql);
  if (found != Prepared.end())
    return found->second;
  sqlite3_stmt *statement = nullptr;
  if (sqlite3_prepare_v3(Db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) !=
      SQLITE_OK) {
    sqlite3_finalize(statement);
    return nullptr;
  }
  Prepared[sql] = statement;
  return statement;
}

Statement &Statement::Text(int i, const std::string &v) {
  sqlite3_bind_text(S, i, v.c_str(), int(v.size()), SQLITE_TRANSIENT);
  return *this;
}

Statement &Statement::Int(int i, int64_t v) {
  sqlite3_bind_int64(S, i, v);
  return *this;
}

int Statement::Step() { return S ? sqlite3_step(S) : SQLITE_ERROR; }

void Statement::Reset() {
  sqlite3_reset(S);
  sqlite3_clear_bindings(S);
}

std::string Statement::ColumnText(int i) const {
  const unsigned char *text = sqlite3_column_text(S, i);
  return text ? reinterpret_cast<const char *>(text) : "";
}

} // namespace kestrune::serial
