// SIGINT, SIGTERM and SIGHUP as a request to stop every channel. While an
// instance lives, these signals are taken by a thread of its own and reported
// through a callback; the rest of the process never sees them.
#pragma once

#include <functional>
#include <pthread.h>
#include <signal.h>
#include <thread>

namespace kestrune {

class StopSignals {
public:
  explicit StopSignals(std::function<void()> onStop);
  ~StopSignals();
  StopSignals(const StopSignals &) = delete;
  StopSignals &operator=(const StopSignals &) = delete;

private:
  sigset_t Previous;
  std::thread Waiter;
};

} // namespace kestrune
