#include "engine/GuiCallQueue.h"

namespace kestrune {

void GuiCallQueue::RunAndWait(const std::function<void()> &fn) {
  std::unique_lock lock(Mutex);
  if (Closed)
    return;
  if (Serving && Server == std::this_thread::get_id()) {
    lock.unlock();
    fn();
    return;
  }
  PendingCall call{&fn};
  Calls.push_back(&call);
  ++Generation;
  Changed.notify_all();
  if (TakeWakeTurn())
    WakeHook();
  Changed.wait(lock, [&] { return call.Done; });
}

void GuiCallQueue::RunFront(std::unique_lock<std::mutex> &lock) {
  PendingCall *call = Calls.front();
  Calls.pop_front();
  struct MarkDone {
    std::unique_lock<std::mutex> &Lock;
    PendingCall *Call;
    GuiCallQueue &Queue;
    ~MarkDone() {
      Lock.lock();
      Call->Done = true;
      Queue.Changed.notify_all();
    }
  } markDone{lock, call, *this};
  lock.unlock();
  (*call->Fn)();
}

bool GuiCallQueue::ServeUntil(const std::function<bool()> &done,
                              std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  std::unique_lock lock(Mutex);
  Serving = true;
  Server = std::this_thread::get_id();
  for (;;) {
    while (!Calls.empty())
      RunFront(lock);
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
  if (TakeWakeTurn())
    WakeHook();
}

void GuiCallQueue::SetWakeHook(std::function<void()> hook) {
  std::lock_guard lock(Mutex);
  WakeHook = std::move(hook);
}

bool GuiCallQueue::TakeWakeTurn() {
  if (!WakeHook || WakePosted || Closed)
    return false;
  WakePosted = true;
  return true;
}

void GuiCallQueue::ServePending() {
  std::unique_lock lock(Mutex);
  // Cleared first: whatever arrives from here on is either served below or
  // tells this thread again.
  WakePosted = false;
  while (!Calls.empty() && !Closed)
    RunFront(lock);
}

void GuiCallQueue::Close() {
  std::lock_guard lock(Mutex);
  Closed = true;
  for (PendingCall *call : Calls)
    call->Done = true;
  Calls.clear();
  Changed.notify_all();
}

} // namespace kestrune
