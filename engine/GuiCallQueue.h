// A "window thread" for the worker calls that must run there: workers hand
// it calls and block until they have run; the thread that serves it runs
// them in order. Everything a worker wrote before its call, and everything
// the call wrote, changes hands under the queue's own mutex.
//
// Two ways to serve it: a thread with nothing else to do waits in
// ServeUntil (the command line front end, the tests); a thread that waits
// in an event loop of its own (the window's) is told through a wake hook
// and calls ServePending.
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
  // the serving thread itself, it runs fn at once. Once the queue is
  // closed it returns at once without running fn.
  void RunAndWait(const std::function<void()> &fn);

  // Serves calls on the calling thread until done() holds (checked after
  // every call and at every Wake) or the time-out passes. Returns done().
  bool ServeUntil(const std::function<bool()> &done,
                  std::chrono::milliseconds timeout = std::chrono::hours(24 * 365));

  // Makes a serving thread look at its done() condition again, or (with a
  // wake hook) at whatever its owner keeps beside the queue.
  void Wake();

  // hook runs on the thread of a RunAndWait or Wake when the serving thread
  // has not been told of anything since it last called ServePending; it
  // must make that thread call ServePending soon, and it must not carry
  // data: the calls wait here. It runs under the queue's lock, so that all
  // it does (a posted event allocated here and freed by the serving thread
  // included) happens before that ServePending; it must not call back into
  // the queue, nor wait for the serving thread. Set before other threads
  // use the queue.
  void SetWakeHook(std::function<void()> hook);

  // Runs every call queued so far on the calling thread; does not wait.
  void ServePending();

  // Runs no further call: callers waiting now, and later ones, return
  // without their call having run. For a serving side that goes away.
  void Close();

private:
  struct PendingCall {
    const std::function<void()> *Fn;
    bool Done = false;
  };
  // Runs the first queued call with the lock released; it counts as done
  // even when it throws.
  void RunFront(std::unique_lock<std::mutex> &lock);
  // True when the caller must run the wake hook (the lock held).
  bool TakeWakeTurn();

  std::mutex Mutex;
  std::condition_variable Changed;
  std::deque<PendingCall *> Calls;
  std::thread::id Server;
  bool Serving = false;
  bool Closed = false;
  uint64_t Generation = 0;
  std::function<void()> WakeHook;
  bool WakePosted = false;
};

} // namespace kestrune
