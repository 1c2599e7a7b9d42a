// The ledger's tables in the station's SQLite database, beside the
// records. They carry their own version (table serial_schema), migrated
// step by step like the records' own, so either side may change alone.
#pragma once

#include "records/SqliteSchema.h"

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <string>

namespace kestrune::serial {

constexpr int CurrentLedgerVersion = 3;

// Opens (and creates) the file in WAL mode with full sync and a busy
// timeout, and migrates the ledger's tables. Null with why set.
sqlite3 *OpenLedgerDatabase(const std::string &path, std::string &why);

using records::Exec;

// Statements of one connection prepared once and kept for its hot paths,
// by their text's address. Used from one thread at a time, as the
// connection is.
class StatementCache {
public:
  explicit StatementCache(sqlite3 *db) : Db(db) {}
  ~StatementCache();
  StatementCache(const StatementCache &) = delete;
  StatementCache &operator=(const StatementCache &) = delete;
  sqlite3_stmt *Get(const char *sql);

private:
  sqlite3 *Db;
  std::map<const char *, sqlite3_stmt *> Prepared;
};

// A prepared statement, finalised on every path; one taken from a cache is
// reset instead, and must be the only one of its text in use.
class Statement {
public:
  Statement(sqlite3 *db, const char *sql);
  Statement(StatementCache &cache, const char *sql);
  ~Statement();
  Statement(const Statement &) = delete;
  Statement &operator=(const Statement &) = delete;
  explicit operator bool() const { return S != nullptr; }

  Statement &Text(int i, const std::string &v);
  Statement &Int(int i, int64_t v);
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step();
  void Reset();
  int64_t ColumnInt(int i) const { return sqlite3_column_int64(S, i); }
  std::string ColumnText(int i) const;

private:
  sqlite3_stmt *S = nullptr;
  bool Owned = true;
};

} // namespace kestrune::serial
