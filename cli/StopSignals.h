// The operator's requests to stop every channel: SIGINT, SIGTERM and SIGHUP
// on Linux; Ctrl+C, Ctrl+Break and closing the console window on Windows.
// While an instance lives they are taken away from the rest of the process
// and reported through the callback, from a thread of their own.
#pragma once

#include <functional>
#include <memory>

namespace kestrune {

class StopSignals {
public:
  explicit StopSignals(std::function<void()> onStop);
  ~StopSignals();
  // From now on the requests go to onStop; gives back the callback they
  // went to until now.
  std::function<void()> Redirect(std::function<void()> onStop);
  StopSignals(const StopSignals &) = delete;
  StopSignals &operator=(const StopSignals &) = delete;

private:
  struct State;
  std::unique_ptr<State> Impl;
};

} // namespace kestrune
