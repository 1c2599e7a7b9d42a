// The local database's schema and its migrations. PRAGMA user_version holds
// the version a database is at; opening one migrates it step by step to the
// current version, each step in its own transaction, never dropping data.
#pragma once

#include <sqlite3.h>

#include <string>

namespace kestrune::records {

constexpr int CurrentSchemaVersion = 6;

// Runs one or more SQL statements; false with why set to SQLite's message.
bool Exec(sqlite3 *db, const char *sql, std::string &why);

// Brings the database to CurrentSchemaVersion; false with why set. Safe when
// several processes open one database at once: the first to take the write
// lock migrates, the others find the work done.
bool MigrateSchema(sqlite3 *db, std::string &why);

// Creates schema version 1 only (the first released layout), for tests that
// open a database an older program made.
bool CreateSchemaVersion1(sqlite3 *db, std::string &why);

} // namespace kestrune::records
