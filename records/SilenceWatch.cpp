#include "records/SilenceWatch.h"

#include "records/QuietThread.h"

namespace kestrune::records {

SilenceWatch::SilenceWatch(ServerCut &cut, std::chrono::milliseconds limit)
    : Target(cut), Limit(limit), Last(std::chrono::steady_clock::now()) {
  Watcher = std::thread([this] {
    BlockProcessSignals();
    std::unique_lock lock(Mutex);
    while (!Ending) {
      const auto due = Last + Limit;
      if (std::chrono::steady_clock::now() >= due) {
        CutDone = true;
        Target.Cut();
        return;
      }
      Changed.wait_until(lock, due);
    }
  });
}

SilenceWatch::~SilenceWatch() {
  {
    std::lock_guard lock(Mutex);
    Ending = true;
    Changed.notify_all();
  }
  Watcher.join();
}

void SilenceWatch::Heard() {
  std::lock_guard lock(Mutex);
  Last = std::chrono::steady_clock::now();
}

bool SilenceWatch::Cut() const {
  std::lock_guard lock(Mutex);
  return CutDone;
}

} // namespace kestrune::records
