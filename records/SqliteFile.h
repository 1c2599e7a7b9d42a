// Opening a station's SQLite file, as the records and the serial values'
// ledger both keep it: the folder made where missing, the file in WAL mode
// with full sync, so that what a run was told is kept survives a power cut.
#pragma once

#include <sqlite3.h>

#include <string>

namespace kestrune::records {

// Waits this long for another process's write to end before giving up.
constexpr int SqliteBusyTimeoutMs = 10000;

// Null with the reason when the file cannot be opened or made durable. The
// caller sets its own busy wait first through setWait, which is called
// before anything else is asked of the file.
sqlite3 *OpenDurableSqliteFile(const std::string &path, void (*setWait)(sqlite3 *),
                               std::string &why);

} // namespace kestrune::records
