#include "records/Recorder.h"

#include "records/PgForwarder.h"
#include "records/PgRecords.h"
#include "records/QuietThread.h"
#include "records/RecordFromRun.h"
#include "records/RecordsLocation.h"
#include "records/SqliteStore.h"
#include "records/Uuid.h"

namespace kestrune::records {

Recorder::Recorder(RecorderOptions options)
    : StationName(options.Station.empty() ? HostStationName() : options.Station),
      Notice(std::move(options.Notice)) {
  if (options.Target == "none")
    return;
  if (IsServerUrl(options.Target))
    Url = options.Target;
  Path = options.Target.empty() || !Url.empty() ? DefaultRecordsPath() : options.Target;
  if (Path.empty()) {
    Tell("records are not being kept: no place for them (neither XDG_DATA_HOME nor HOME is set)");
    return;
  }
  // Done once here, not on a channel's first hand-over: the random source
  // behind the UUIDs.
  NewUuid();
  // Opening may wait for a disk or for another program's lock: it happens
  // on the recorder's thread, so a front end starts at once.
  Active = true;
  Writer = std::thread([this] { WriterMain(); });
}

bool Recorder::Keeping() const {
  if (!Active)
    return false;
  std::unique_lock lock(Mutex);
  Changed.wait(lock, [this] { return OpenState != Opening::Pending; });
  return OpenState == Opening::Open;
}

Recorder::~Recorder() { Close(); }

void Recorder::Tell(const std::string &text) {
  if (Notice)
    Notice(text);
}

void Recorder::Submit(const RunReport &report, const std::string &portStableName) {
  if (!Active || !report.PortOpened)
    return;
  Submit(RecordFromRun(report, {StationName, portStableName}));
}

void Recorder::Submit(Record record) {
  if (!Active)
    return;
  std::lock_guard lock(Mutex);
  if (Closing || OpenState == Opening::Failed)
    return;
  Queue.push_back(std::move(record));
  ++Submitted;
  Changed.notify_all();
}

void Recorder::WriterMain() {
  BlockProcessSignals();
  std::string why;
  Store = SqliteStore::Open(Path, why);
  if (!Store)
    Tell("records are not being kept: " + why);
  else if (!Url.empty())
    Server = std::make_unique<PgForwarder>(Url, Path, [this](const std::string &t) { Tell(t); });
  std::unique_lock lock(Mutex);
  OpenState = Store ? Opening::Open : Opening::Failed;
  Changed.notify_all();
  if (!Store) {
    Failures += Queue.size();
    Queue.clear();
    return;
  }
  for (;;) {
    Changed.wait(lock, [this] { return Closing || !Queue.empty(); });
    if (Queue.empty())
      return; // closing, and everything is written
    Record record = std::move(Queue.front());
    Queue.pop_front();
    lock.unlock();
    why.clear();
    bool written = Store->Insert(record, why);
    if (written && Server)
      Server->Wake();
    lock.lock();
    if (written) {
      ++WrittenCount;
    } else {
      ++Failures;
      if (!WriteFailureTold) {
        WriteFailureTold = true;
        lock.unlock();
        Tell("records are not being kept: cannot write to " + Path + ": " + why);
        lock.lock();
      }
    }
    Changed.notify_all();
  }
}

void Recorder::WaitUntilWritten() {
  std::unique_lock lock(Mutex);
  Changed.wait(lock, [this] { return Closed || WrittenCount + Failures == Submitted; });
}

void Recorder::Close(std::chrono::milliseconds forwardWait) {
  {
    std::lock_guard lock(Mutex);
    if (Closed)
      return;
    Closing = true;
    Changed.notify_all();
  }
  // The local writes always finish: nothing submitted is lost at exit.
  if (Writer.joinable())
    Writer.join();
  if (Server)
    Server->Stop(forwardWait);
  std::lock_guard lock(Mutex);
  Closed = true;
  Changed.notify_all();
}

uint64_t Recorder::Written() const {
  std::lock_guard lock(Mutex);
  return WrittenCount;
}

uint64_t Recorder::WriteFailures() const {
  std::lock_guard lock(Mutex);
  return Failures;
}

} // namespace kestrune::records
