#include "jobcount/CutOnStop.h"

#include "records/QuietThread.h"

#include <chrono>

namespace kestrune::jobcount {

CutOnStop::CutOnStop(records::ServerCut &cut, const std::atomic<bool> *stop) {
  if (!stop)
    return;
  Watcher = std::thread([this, &cut, stop] {
    records::BlockProcessSignals();
    std::unique_lock lock(Mutex);
    while (!Ending) {
      if (*stop) {
        CutDone = true;
        cut.Cut();
        return;
      }
      Changed.wait_for(lock, std::chrono::milliseconds(20));
    }
  });
}

CutOnStop::~CutOnStop() {
  if (!Watcher.joinable())
    return;
  {
    std::lock_guard lock(Mutex);
    Ending = true;
  }
  Changed.notify_all();
  Watcher.join();
}

} // namespace kestrune::jobcount
