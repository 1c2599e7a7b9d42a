// The local records database (SQLite, WAL mode). One store is one
// connection, used by one thread at a time; several processes and threads
// may each hold their own on one file at once.
#pragma once

#include "records/Record.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct sqlite3;

namespace kestrune::records {

struct RecordFilter {
  std::string Since;   // a NormaliseSince() value; empty: all
  std::string Station; // empty: every station
  std::string Serial;  // a serial value's text; empty: any or none
  std::string JobName;    // empty: of any job or none
  std::string JobVersion; // empty: any version of the job
};

class SqliteStore {
public:
  // Creates the file and its folder when missing, migrates its schema.
  // Nothing with why set when it cannot.
  static std::unique_ptr<SqliteStore> Open(const std::string &path, std::string &why);
  ~SqliteStore();
  SqliteStore(const SqliteStore &) = delete;
  SqliteStore &operator=(const SqliteStore &) = delete;

  // One record, one transaction. A record whose id is on file already is
  // left as it is.
  bool Insert(const Record &record, std::string &why);
  // Several records in one transaction: all are written, or none.
  bool InsertAll(const std::vector<Record> &records, std::string &why);
  // Moves every record of this store into target and empties this one;
  // nothing moves when either side fails. moved tells how many.
  bool MoveAllInto(SqliteStore &target, size_t &moved, std::string &why);
  // Records not yet taken by the line's server, oldest first.
  bool Pending(size_t limit, std::vector<Record> &out, std::string &why);
  bool CountPending(uint64_t &count, std::string &why);
  bool MarkForwarded(const std::vector<std::string> &ids, std::string &why);
  // Newest first, one record at a time: memory stays the same whatever
  // their number.
  bool ForEach(const RecordFilter &filter, const std::function<void(const Record &)> &take,
               std::string &why);
  // Newest first.
  bool List(const RecordFilter &filter, std::vector<Record> &out, std::string &why);

  const std::string &Path() const { return FilePath; }

private:
  SqliteStore(sqlite3 *db, std::string path) : Db(db), FilePath(std::move(path)) {}
  sqlite3 *Db;
  std::string FilePath;
};

} // namespace kestrune::records
