#include "records/SqliteFile.h"

#include "records/SqliteSchema.h"

#include <chrono>
#include <filesystem>
#include <thread>

namespace kestrune::records {
namespace {

// Turning a new database to WAL needs it to itself, and SQLite answers
// "database is locked" at once, without waiting through the busy timeout,
// while another program is opening the same new file. Tried again until
// that timeout, so that two programs started together both keep going.
bool TurnToWal(sqlite3 *db, std::string &why) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(SqliteBusyTimeoutMs);
  for (;;) {
    int rc = sqlite3_exec(db, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
      return true;
    const bool busy = (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED;
    if (!busy || Clock::now() >= end) {
      why = sqlite3_errmsg(db);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

} // namespace

sqlite3 *OpenDurableSqliteFile(const std::string &path, void (*setWait)(sqlite3 *),
                               std::string &why) {
  std::error_code error;
  std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (!parent.empty() && !std::filesystem::exists(parent, error))
    std::filesystem::create_directories(parent, error);
  if (error) {
    why = "cannot create " + parent.string() + ": " + error.message();
    return nullptr;
  }
  sqlite3 *db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) {
    why = "cannot open " + path + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    sqlite3_close(db);
    return nullptr;
  }
  setWait(db);
  std::string detail;
  if (!TurnToWal(db, detail) || !Exec(db, "PRAGMA synchronous = FULL", detail)) {
    why = path + ": " + detail;
    sqlite3_close(db);
    return nullptr;
  }
  return db;
}

} // namespace kestrune::records
