#include "records/SqliteSchema.h"

#include <array>

namespace kestrune::records {

bool Exec(sqlite3 *db, const char *sql, std::string &why) {
  char *message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK)
    return true;
  why = message ? message : sqlite3_errmsg(db);
  sqlite3_free(message);
  return false;
}

namespace {

// Version 1: one row per run.
const char *const Version1 = R"sql(
CREATE TABLE runs (
  id TEXT PRIMARY KEY NOT NULL,
  started TEXT NOT NULL,
  ended TEXT NOT NULL,
  station TEXT NOT NULL,
  channel INTEGER NOT NULL,
  port TEXT NOT NULL,
  image_path TEXT NOT NULL DEFAULT '',
  image_size INTEGER NOT NULL DEFAULT 0,
  image_sha256 TEXT NOT NULL DEFAULT '',
  speed INTEGER NOT NULL DEFAULT 0,
  identification TEXT NOT NULL DEFAULT '',
  outcome TEXT NOT NULL,
  final_status TEXT NOT NULL DEFAULT '',
  error_code INTEGER NOT NULL DEFAULT 0,
  failure_c INTEGER,
  failure_s INTEGER,
  blocks_resent INTEGER NOT NULL DEFAULT 0,
  bytes_sent INTEGER NOT NULL DEFAULT 0,
  seconds REAL NOT NULL DEFAULT 0,
  program_version TEXT NOT NULL DEFAULT ''
);
CREATE INDEX runs_started ON runs (started);
)sql";

// Version 2: the port's stable name, the RAM program's digest, and whether
// the record has reached the line's server. Records kept before are marked
// not yet sent, so a server set later receives them too.
const char *const Version2 = R"sql(
ALTER TABLE runs ADD COLUMN port_stable_name TEXT NOT NULL DEFAULT '';
ALTER TABLE runs ADD COLUMN ram_program_sha256 TEXT NOT NULL DEFAULT '';
ALTER TABLE runs ADD COLUMN forwarded INTEGER NOT NULL DEFAULT 0;
CREATE INDEX runs_pending ON runs (started) WHERE forwarded = 0;
)sql";

// Version 3: whether the run reached a handset. Records kept before are
// taken as units, as they were counted.
const char *const Version3 = R"sql(
ALTER TABLE runs ADD COLUMN unit INTEGER NOT NULL DEFAULT 1;
)sql";

// Version 4: the file the operator chose, beside the file sent. Records kept
// before have it empty.
const char *const Version4 = R"sql(
ALTER TABLE runs ADD COLUMN chosen_file TEXT NOT NULL DEFAULT '';
)sql";

// Version 5: the serial values written into the unit (a JSON object of
// field name to text) and the digest of the bytes sent with them. Records
// kept before wrote none: the bytes sent were the image's.
const char *const Version5 = R"sql(
ALTER TABLE runs ADD COLUMN serials TEXT NOT NULL DEFAULT '{}';
ALTER TABLE runs ADD COLUMN sent_sha256 TEXT NOT NULL DEFAULT '';
UPDATE runs SET sent_sha256 = image_sha256;
)sql";

// Version 6: the production job the run was part of, and the units each
// job has under way or passed, which its count of units is held to.
// Records kept before were of no job.
const char *const Version6 = R"sql(
ALTER TABLE runs ADD COLUMN job_name TEXT NOT NULL DEFAULT '';
ALTER TABLE runs ADD COLUMN job_version TEXT NOT NULL DEFAULT '';
ALTER TABLE runs ADD COLUMN job_sha256 TEXT NOT NULL DEFAULT '';
CREATE INDEX runs_job ON runs (job_name) WHERE job_name <> '';
CREATE TABLE job_units (
  id INTEGER PRIMARY KEY,
  job_name TEXT NOT NULL,
  job_version TEXT NOT NULL,
  state TEXT NOT NULL,
  station TEXT NOT NULL,
  process INTEGER NOT NULL,
  channel INTEGER NOT NULL,
  at TEXT NOT NULL
);
CREATE INDEX job_units_job ON job_units (job_name, job_version);
)sql";

const std::array<const char *, CurrentSchemaVersion> Steps = {Version1, Version2, Version3,
                                                              Version4, Version5, Version6};

bool ReadVersion(sqlite3 *db, int &version, std::string &why) {
  sqlite3_stmt *statement = nullptr;
  if (sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &statement, nullptr) != SQLITE_OK) {
    why = sqlite3_errmsg(db);
    return false;
  }
  bool ok = sqlite3_step(statement) == SQLITE_ROW;
  version = ok ? sqlite3_column_int(statement, 0) : 0;
  if (!ok)
    why = sqlite3_errmsg(db);
  sqlite3_finalize(statement);
  return ok;
}

// One step inside the caller's transaction.
bool Step(sqlite3 *db, int toVersion, std::string &why) {
  if (!Exec(db, Steps[size_t(toVersion - 1)], why))
    return false;
  std::string set = "PRAGMA user_version = " + std::to_string(toVersion);
  return Exec(db, set.c_str(), why);
}

} // namespace

bool MigrateSchema(sqlite3 *db, std::string &why) {
  int version = 0;
  if (!ReadVersion(db, version, why))
    return false;
  if (version == CurrentSchemaVersion)
    return true;
  if (version > CurrentSchemaVersion) {
    why = "the records database is of a newer program (schema " + std::to_string(version) + ")";
    return false;
  }
  // The write lock first, then the version again: another process may have
  // migrated meanwhile.
  if (!Exec(db, "BEGIN IMMEDIATE", why))
    return false;
  bool ok = ReadVersion(db, version, why);
  while (ok && version < CurrentSchemaVersion)
    ok = Step(db, ++version, why);
  if (!ok) {
    std::string ignored;
    Exec(db, "ROLLBACK", ignored);
    return false;
  }
  return Exec(db, "COMMIT", why);
}

bool CreateSchemaVersion1(sqlite3 *db, std::string &why) {
  if (!Exec(db, "BEGIN IMMEDIATE", why))
    return false;
  if (!Step(db, 1, why)) {
    std::string ignored;
    Exec(db, "ROLLBACK", ignored);
    return false;
  }
  return Exec(db, "COMMIT", why);
}

} // namespace kestrune::records
