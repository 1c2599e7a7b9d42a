#include "records/Recorder.h"

#include "records/PgForwarder.h"
#include "records/PgRecords.h"
#include "records/QuietThread.h"
#include "records/RecordFromRun.h"
#include "records/RecordsLocation.h"
#include "records/SqliteStore.h"
#include "records/Uuid.h"

#include <algorithm>
#include <filesystem>
#include <vector>

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
  Spill = SpillPathFor(Path);
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
  if (!Active)
    return;
  Submit(RecordFromRun(report, {StationName, portStableName}));
}

void Recorder::Submit(Record record) { Take(std::move(record)); }

uint64_t Recorder::Take(Record record) {
  if (!Active)
    return 0;
  std::lock_guard lock(Mutex);
  if (Closing || OpenState == Opening::Failed)
    return 0;
  Queue.push_back(std::move(record));
  Changed.notify_all();
  return ++Submitted;
}

bool Recorder::Keep(const RunReport &report, const std::string &portStableName) {
  if (!Active)
    return false;
  const uint64_t number = Take(RecordFromRun(report, {StationName, portStableName}));
  if (number == 0)
    return false;
  std::unique_lock lock(Mutex);
  Changed.wait(lock, [&] {
    return Closed || OpenState == Opening::Failed || Handled >= number || Failing;
  });
  return Handled >= number && !Failing;
}

namespace {

constexpr size_t BatchLimit = 200;
constexpr std::chrono::milliseconds FirstRetry{100};
constexpr std::chrono::milliseconds LongestRetry{5000};

std::string Count(size_t n) {
  return std::to_string(n) + (n == 1 ? " record" : " records");
}

} // namespace

void Recorder::TakeInSpill() {
  std::error_code error;
  if (!std::filesystem::exists(Spill, error))
    return;
  std::string why;
  auto spilled = SqliteStore::Open(Spill, why);
  size_t moved = 0;
  if (!spilled || !spilled->MoveAllInto(*Store, moved, why)) {
    Tell("records kept in " + Spill + " are not taken in yet: " + why);
    return;
  }
  spilled.reset();
  if (moved > 0)
    Tell("took in " + Count(moved) + " kept in " + Spill + " by an earlier run");
}

// Writes the oldest waiting records in one transaction. On failure they
// stay first in line.
bool Recorder::WriteBatch(std::unique_lock<std::mutex> &lock) {
  const size_t n = std::min(Queue.size(), BatchLimit);
  std::vector<Record> batch(Queue.begin(), Queue.begin() + std::ptrdiff_t(n));
  lock.unlock();
  std::string why;
  const bool written = Store->InsertAll(batch, why);
  if (written && Server)
    Server->Wake();
  lock.lock();
  if (!written) {
    RetryDelay = RetryDelay.count() == 0 ? FirstRetry : std::min(RetryDelay * 2, LongestRetry);
    if (!Failing) {
      const size_t waiting = Queue.size();
      lock.unlock();
      Tell("records cannot be written to " + Path + ": " + why + "; " + Count(waiting) +
           " waiting, kept and written again when it works");
      lock.lock();
      Failing = true;
      Changed.notify_all();
    }
    return false;
  }
  Queue.erase(Queue.begin(), Queue.begin() + std::ptrdiff_t(n));
  WrittenCount += n;
  Handled += n;
  RetryDelay = std::chrono::milliseconds(0);
  if (Failing) {
    Failing = false;
    const size_t waiting = Queue.size();
    lock.unlock();
    Tell("records are written to " + Path + " again; " + Count(waiting) + " still waiting");
    lock.lock();
  }
  Changed.notify_all();
  return true;
}

// Moves the oldest waiting records to the spill file. What cannot go there
// either stays in memory.
void Recorder::SpillOldest(std::unique_lock<std::mutex> &lock, size_t count) {
  std::vector<Record> oldest(Queue.begin(), Queue.begin() + std::ptrdiff_t(count));
  lock.unlock();
  std::string why;
  auto spill = SqliteStore::Open(Spill, why);
  const bool written = spill && spill->InsertAll(oldest, why);
  spill.reset();
  lock.lock();
  if (!written) {
    lock.unlock();
    Tell("records cannot be written to " + Spill + " either: " + why);
    lock.lock();
    return;
  }
  Queue.erase(Queue.begin(), Queue.begin() + std::ptrdiff_t(count));
  Handled += count;
  Failures += count;
  Changed.notify_all();
}

void Recorder::WriterMain() {
  BlockProcessSignals();
  std::string why;
  Store = SqliteStore::Open(Path, why);
  if (!Store)
    Tell("records are not being kept: " + why);
  else
    TakeInSpill();
  if (Store && !Url.empty())
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
    if (WriteBatch(lock))
      continue;
    if (Queue.size() > MemoryBound)
      SpillOldest(lock, Queue.size() - MemoryBound);
    if (Closing)
      break;
    // Records that come in meanwhile wait their turn behind the failed ones.
    const auto delay = RetryDelay;
    Changed.wait_for(lock, delay, [this] { return Closing; });
  }
  // Closing while writing fails: one more try, then the spill file.
  if (WriteBatch(lock) && Queue.empty())
    return;
  while (!Queue.empty()) {
    const size_t before = Queue.size();
    if (WriteBatch(lock))
      continue;
    SpillOldest(lock, Queue.size());
    if (Queue.size() == before) {
      const size_t lost = Queue.size();
      lock.unlock();
      Tell(Count(lost) + " could not be written anywhere and are lost");
      lock.lock();
      Queue.clear();
      Handled += lost;
      Failures += lost;
      break;
    }
    lock.unlock();
    Tell(Count(before) + " could not be written to " + Path + "; they are kept in " + Spill +
         " and taken in at the next start");
    lock.lock();
  }
  Changed.notify_all();
}

void Recorder::WaitUntilWritten() {
  std::unique_lock lock(Mutex);
  Changed.wait(lock, [this] { 
    return Closed || OpenState == Opening::Failed || Handled == Submitted || Failing;
  });
}

void Recorder::Close(std::chrono::milliseconds forwardWait) {
  {
    std::lock_guard lock(Mutex);
    if (Closed)
      return;
    Closing = true;
    Changed.notify_all();
  }
  // Everything submitted ends up written here or in the spill file.
  if (Writer.joinable())
    Writer.join();
  if (Server) {
    {
      std::lock_guard lock(Mutex);
      ServerStopping = true;
      if (CutWanted)
        forwardWait = std::chrono::milliseconds(0);
    }
    Server->Stop(forwardWait);
    TellUnsent();
  }
  std::lock_guard lock(Mutex);
  Closed = true;
  Changed.notify_all();
}

void Recorder::CutShort() {
  std::lock_guard lock(Mutex);
  CutWanted = true;
  if (ServerStopping)
    Server->CutShort();
}

void Recorder::TellUnsent() {
  uint64_t unsent = 0;
  std::string why;
  if (!Store || !Store->CountPending(unsent, why) || unsent == 0)
    return;
  Tell(Count(unsent) + " not sent to the server yet; they are kept in " + Path +
       " and sent at the next start");
}

uint64_t Recorder::Waiting() const {
  std::lock_guard lock(Mutex);
  return Queue.size();
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
