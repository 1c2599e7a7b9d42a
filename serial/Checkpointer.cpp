#include "serial/Checkpointer.h"

#include "records/QuietThread.h"

#include <sqlite3.h>

#include <chrono>

namespace kestrune::serial {
namespace {

constexpr std::chrono::milliseconds Interval{250};

} // namespace

Checkpointer::Checkpointer(std::string path) : Path(std::move(path)) {
  Thread = std::thread([this] { Main(); });
}

Checkpointer::~Checkpointer() {
  {
    std::lock_guard lock(Mutex);
    Stopping = true;
    Changed.notify_all();
  }
  Thread.join();
}

void Checkpointer::Main() {
  records::BlockProcessSignals();
  sqlite3 *db = nullptr;
  if (sqlite3_open_v2(Path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    // The ledger's own connection then copies the log as SQLite does by
    // default; nothing is lost, claims only wait the longer at times.
    sqlite3_close(db);
    return;
  }
  std::unique_lock lock(Mutex);
  while (!Changed.wait_for(lock, Interval, [this] { return Stopping; })) {
    lock.unlock();
    sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    lock.lock();
  }
  lock.unlock();
  sqlite3_close(db);
}

} // namespace kestrune::serial
