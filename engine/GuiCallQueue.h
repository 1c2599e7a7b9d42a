// A "window thread" for front ends without a window: workers hand it calls
// and block until it has run them; the thread that serves it runs them in
// order. The command line front end and the tests use it.
#pragma once

#include <chrono>
#include <cstdint>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace kestrune {

class GuiCallQueue {
public:
  // Runs fn on the serving thread and returns once it has run. Called on
  // the serving thread itself, it runs fn at once.
  void RunAndWait(const std::function<void()> &fn);

  // Serves calls on the calling thread until done() holds (checked after
  // every call and at every Wake) or the time-out passes. Returns done().
  bool ServeUntil(const std::function<bool()> &done,
                  std::chrono::milliseconds timeout = std::chrono::hours(24 * 365));

  // Makes a serving thread look at its done() condition again.
  void Wake();

private:
  struct PendingCall {
    const std::function<void()> *Fn;
    bool Done = false;
  };
  std::mutex Mutex;
  std::condition_variable Changed;
  std::deque<PendingCall *> Calls;
  std::thread::id Server;
  bool Serving = false;
  uint64_t Generation = 0;
};

} // namespace kestrune
