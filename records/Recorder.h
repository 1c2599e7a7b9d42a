// What a front end holds to keep records: it hands each finished run over
// and returns at once; a thread of the recorder writes the record into the
// local database, then the forwarder (when a server URL is set) sends it on.
// A database that cannot be opened never stops a run: the recorder says so
// once through the notice and carries on. A record that cannot be written
// is kept in memory, in order, and written again until it can be; past
// MemoryBound records the oldest go to the spill file beside the database,
// and so does whatever is still unwritten at exit. The next start takes the
// spill file's records in.
#pragma once

#include "engine/RunReport.h"
#include "records/Record.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace kestrune::records {

class PgForwarder;
class SqliteStore;

struct RecorderOptions {
  // "none" (no records), a postgresql:// URL (the local database at its
  // default place, and the server), a database file, or empty (the default
  // place).
  std::string Target;
  std::string Station; // empty: the host name
  // Told each problem once, from any of the recorder's threads.
  std::function<void(const std::string &)> Notice;
};

class Recorder {
public:
  explicit Recorder(RecorderOptions options);
  // Close() with the default wait.
  ~Recorder();
  Recorder(const Recorder &) = delete;
  Recorder &operator=(const Recorder &) = delete;

  // False with "none" or when the database could not be opened. The
  // database is opened on the recorder's thread; this waits for that.
  bool Keeping() const;
  const std::string &DatabasePath() const { return Path; }
  const std::string &ServerUrl() const { return Url; }
  const std::string &Station() const { return StationName; }

  // Takes a finished run; never blocks on a database. A run that ended
  // before its port was open is recorded too, as no unit.
  void Submit(const RunReport &report, const std::string &portStableName = {});
  void Submit(Record record);
  // Takes a finished run and returns once its record is committed to the
  // local database (true), or once writing it has failed and that failure
  // has been said (false; the record is kept and written again later).
  bool Keep(const RunReport &report, const std::string &portStableName = {});

  // Writes every record submitted, then lets the forwarder send for at most
  // forwardWait; what it could not send stays pending for the next start.
  void Close(std::chrono::milliseconds forwardWait = DefaultForwardWait);
  static constexpr std::chrono::milliseconds DefaultForwardWait{3000};
  // Any thread (a stop signal): ends the forwarder's wait at once, during
  // Close or before it; what is unsent stays for the next start. Records
  // are still written to the local database or the spill file.
  void CutShort();

  // Records written locally so far, and records that could not be written
  // to the database (spilled, or lost when even that failed).
  uint64_t Written() const;
  uint64_t WriteFailures() const;
  // Records taken but not yet written anywhere.
  uint64_t Waiting() const;
  // Unwritten records kept in memory at most; the oldest past it are
  // spilled to SpillPath().
  static constexpr size_t MemoryBound = 1000;
  const std::string &SpillPath() const { return Spill; }
  // Waits until every record submitted so far is written locally, or until
  // writing fails (the failure is said; they are written later).
  void WaitUntilWritten();

private:
  void WriterMain();
  void Tell(const std::string &text);
  // Submits; the record's number in order, 0 when it is not taken.
  uint64_t Take(Record record);
  // Writer thread, lock held on entry and exit.
  bool WriteBatch(std::unique_lock<std::mutex> &lock);
  void SpillOldest(std::unique_lock<std::mutex> &lock, size_t count);
  void TakeInSpill();
  // After the forwarder stopped: how many records stay for the next start.
  void TellUnsent();

  std::string Path;
  std::string Url;
  std::string StationName;
  std::string Spill;
  std::function<void(const std::string &)> Notice;
  bool Active = false; // a place for records was named
  std::unique_ptr<SqliteStore> Store; // the writer thread's only
  std::unique_ptr<PgForwarder> Server; // made by the writer thread; joined before use

  mutable std::mutex Mutex;
  mutable std::condition_variable Changed;
  std::deque<Record> Queue;
  enum class Opening { Pending, Open, Failed } OpenState = Opening::Pending;
  bool Closing = false;
  bool CutWanted = false;
  bool ServerStopping = false; // Server may be used by CutShort
  bool Closed = false;
  uint64_t Submitted = 0;
  uint64_t WrittenCount = 0;
  uint64_t Failures = 0;
  uint64_t Handled = 0; // records written here or spilled, in order
  bool Failing = false; // the latest write failed, and that was said
  std::chrono::milliseconds RetryDelay{0};
  std::thread Writer;
};

} // namespace kestrune::records
