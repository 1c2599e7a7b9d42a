#include "engine/GuiCallQueue.h"

namespace kestrune {

void GuiCallQueue::RunAndWait(const std::function<void()> &fn) {
  std::unique_lock lock(Mutex);
  if (Serving && Server == std::this_thread::get_id()) {
    lock.unlock();
    fn();
    return;
  }
  PendingCall call{&fn};
  Calls.push_back(&call);
  ++Generation;
  Changed.notify_all();
  Changed.wait(lock, [&] { return call.Done; });
}

bool GuiCallQueue::ServeUntil(const std::function<bool()> &done,
                              std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  std::unique_lock lock(Mutex);
  Serving = true;
  Server = std::this_thread::get_id();
  for (;;) {
    while (!Calls.empty()) {
      PendingCall *call = Calls.front();
      Calls.pop_front();
      lock.unlock();
      (*call->Fn)();
      lock.lock();
      call->Done = true;
      Changed.notify_all();
    }
    uint64_t seen = Generation;
    lock.unlock();
    bool finished = done();
    lock.lock();
    if (finished || std::chrono::steady_clock::now() >= deadline) {
      Serving = false;
      return finished;
    }
    // A call or a wake that came while done() ran is not waited for again.
    if (Generation == seen && Calls.empty())
      Changed.wait_until(lock, deadline);
  }
}

void GuiCallQueue::Wake() {
  std::lock_guard lock(Mutex);
  ++Generation;
  Changed.notify_all();
}

} // namespace kestrune
