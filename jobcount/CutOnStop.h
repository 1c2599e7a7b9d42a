// Cuts a connection to the line's server once a stop flag is set, so that
// a connection attempt or a statement the server does not answer ends
// within a few tens of milliseconds of the stop instead of at its limits.
#pragma once

#include "records/ServerCut.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace kestrune::jobcount {

class CutOnStop {
public:
  // stop may be null: then nothing watches.
  CutOnStop(records::ServerCut &cut, const std::atomic<bool> *stop);
  ~CutOnStop();
  CutOnStop(const CutOnStop &) = delete;
  CutOnStop &operator=(const CutOnStop &) = delete;

  // Whether the stop cut the connection.
  bool Cut() const { return CutDone; }

private:
  std::mutex Mutex;
  std::condition_variable Changed;
  bool Ending = false;
  std::atomic<bool> CutDone{false};
  std::thread Watcher;
};

} // namespace kestrune::jobcount
