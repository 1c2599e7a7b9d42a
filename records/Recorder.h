// What a front end holds to keep records: it hands each finished run over
// and returns at once; a thread of the recorder writes the record into the
// local database, then the forwarder (when a server URL is set) sends it on.
// A database that cannot be opened or written never stops a run: the
// recorder says so once through the notice and carries on.
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

  // Takes a finished run; never blocks on a database. Runs that ended
  // before their port was open are not recorded.
  void Submit(const RunReport &report, const std::string &portStableName = {});
  void Submit(Record record);

  // Writes every record submitted, then lets the forwarder send for at most
  // forwardWait; what it could not send stays pending for the next start.
  void Close(std::chrono::milliseconds forwardWait = DefaultForwardWait);
  static constexpr std::chrono::milliseconds DefaultForwardWait{3000};

  // Records written locally so far, and failed writes.
  uint64_t Written() const;
  uint64_t WriteFailures() const;
  // Waits until every record submitted so far is written locally.
  void WaitUntilWritten();

private:
  void WriterMain();
  void Tell(const std::string &text);

  std::string Path;
  std::string Url;
  std::string StationName;
  std::function<void(const std::string &)> Notice;
  bool Active = false; // a place for records was named
  std::unique_ptr<SqliteStore> Store; // the writer thread's only
  std::unique_ptr<PgForwarder> Server; // made by the writer thread; joined before use

  mutable std::mutex Mutex;
  mutable std::condition_variable Changed;
  std::deque<Record> Queue;
  enum class Opening { Pending, Open, Failed } OpenState = Opening::Pending;
  bool Closing = false;
  bool Closed = false;
  uint64_t Submitted = 0;
  uint64_t WrittenCount = 0;
  uint64_t Failures = 0;
  bool WriteFailureTold = false;
  std::thread Writer;
};

} // namespace kestrune::records
