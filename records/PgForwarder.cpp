#include "records/PgForwarder.h"

#include "records/BoundedConnection.h"
#include "records/PgRecords.h"
#include "records/QuietThread.h"
#include "records/SqliteStore.h"

#include <pqxx/pqxx>

#include <algorithm>
#include <memory>
#include <vector>

namespace kestrune::records {
namespace {

constexpr size_t BatchSize = 200;
constexpr std::chrono::milliseconds FirstRetry{250};
constexpr std::chrono::milliseconds LongestRetry{5000};

} // namespace

PgForwarder::PgForwarder(std::string url, std::string databasePath, Notice notice)
    : Url(WithClientLimits(url)), DatabasePath(std::move(databasePath)) {
  // No text shown names the password.
  Tell = [this, notice = std::move(notice)](const std::string &text) {
    if (notice)
      notice(WithoutPassword(text, Url));
  };
  Thread = std::thread([this] { Main(); });
}

PgForwarder::~PgForwarder() { Stop(std::chrono::milliseconds(0)); }

void PgForwarder::Wake() {
  std::lock_guard lock(Mutex);
  Woken = true;
  IdleNow = false;
  Changed.notify_all();
}

void PgForwarder::Stop(std::chrono::milliseconds wait) {
  {
    std::lock_guard lock(Mutex);
    if (!Stopping) {
      Stopping = true;
      Deadline = std::chrono::steady_clock::now() + wait;
    }
    Changed.notify_all();
  }
  {
    // Past the deadline a call hanging on a server that does not answer is
    // cut off: its connection's socket is shut, so the call fails at once.
    std::unique_lock lock(Mutex);
    // Woken by the thread's end, a cut, or the deadline (looked at again
    // after each wake: a cut moves it).
    while (!Ended && std::chrono::steady_clock::now() < Deadline)
      Changed.wait_until(lock, Deadline);
    if (!Ended)
      Cutter.Cut();
  }
  if (Thread.joinable())
    Thread.join();
}

void PgForwarder::CutShort() {
  std::lock_guard lock(Mutex);
  const auto now = std::chrono::steady_clock::now();
  if (!Stopping || Deadline > now)
    Deadline = now;
  Stopping = true;
  Cutter.Cut();
  Changed.notify_all();
}

bool PgForwarder::TimeUp() {
  std::lock_guard lock(Mutex);
  return Stopping && std::chrono::steady_clock::now() >= Deadline;
}

void PgForwarder::Pause(std::chrono::milliseconds delay) {
  std::unique_lock lock(Mutex);
  auto until = std::chrono::steady_clock::now() + delay;
  if (Stopping)
    until = std::min(until, Deadline);
  Changed.wait_until(lock, until, [&] { return Stopping && std::chrono::steady_clock::now() >= Deadline; });
}

void PgForwarder::Main() {
  BlockProcessSignals();
  struct MarkEnded {
    PgForwarder &F;
    ~MarkEnded() {
      std::lock_guard lock(F.Mutex);
      F.Ended = true;
      F.Changed.notify_all();
    }
  } markEnded{*this};
  std::string why;
  std::unique_ptr<SqliteStore> store = SqliteStore::Open(DatabasePath, why);
  if (!store) {
    Tell("records are not being sent to the server: " + why);
    return;
  }
  std::unique_ptr<BoundedConnection> server;
  auto retry = FirstRetry;
  bool downTold = false;
  while (!TimeUp()) {
    std::vector<Record> batch;
    if (!store->Pending(BatchSize, batch, why)) {
      Pause(retry);
      continue;
    }
    if (batch.empty()) {
      std::unique_lock lock(Mutex);
      if (Woken) {
        Woken = false; // look once more: records came in meanwhile
        continue;
      }
      IdleNow = true;
      if (Stopping)
        break;
      Changed.wait(lock, [this] { return Woken || Stopping; });
      continue;
    }
    try {
      if (!server) {
        server = std::make_unique<BoundedConnection>(Url, &Cutter);
        Cutter.SetSocket(server->sock());
        EnsurePgTable(*server);
      }
      InsertPg(*server, batch);
    } catch (const std::exception &failure) {
      Cutter.SetSocket(-1);
      server.reset();
      FailingNow = true;
      // Cut at the deadline: what stays unsent is said by the one stopping.
      if (TimeUp())
        break;
      if (!downTold)
        Tell("records are not reaching the server (" + ServerFailureText(failure) +
             "); they are kept here and sent when it answers");
      downTold = true;
      Pause(retry);
      retry = std::min(retry * 2, LongestRetry);
      continue;
    }
    // Committed by the server. Marked here only now: a crash in between
    // sends them again, and the server skips them.
    std::vector<std::string> ids;
    for (const Record &r : batch)
      ids.push_back(r.Id);
    if (!store->MarkForwarded(ids, why)) {
      Pause(retry);
      continue;
    }
    Sent += ids.size();
    FailingNow = false;
    retry = FirstRetry;
    if (downTold)
      Tell("records reach the server again");
    downTold = false;
  }
  // No longer to be shut by a cut once its number may be reused.
  Cutter.SetSocket(-1);
  server.reset();
}

} // namespace kestrune::records
