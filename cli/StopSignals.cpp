#include "cli/StopSignals.h"

#include <pthread.h>
#include <signal.h>

#include <mutex>
#include <thread>

namespace kestrune {
namespace {

// SIGUSR2 is only used to end the waiting thread.
sigset_t WaitedSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, SIGUSR2);
  return set;
}

} // namespace

struct StopSignals::State {
  sigset_t Previous;
  std::mutex Mutex;
  std::function<void()> OnStop; // under Mutex
  std::thread Waiter;
};

StopSignals::StopSignals(std::function<void()> onStop) : Impl(std::make_unique<State>()) {
  sigset_t set = WaitedSignals();
  // Blocked here, before any worker exists, so every later thread inherits it.
  pthread_sigmask(SIG_BLOCK, &set, &Impl->Previous);
  Impl->OnStop = std::move(onStop);
  Impl->Waiter = std::thread([set, state = Impl.get()] {
    for (;;) {
      int signal = 0;
      if (sigwait(&set, &signal) != 0 || signal == SIGUSR2)
        return;
      // Called under the lock: a Redirect returns only once the callback
      // it replaced is no longer running.
      std::lock_guard lock(state->Mutex);
      if (state->OnStop)
        state->OnStop();
    }
  });
}

std::function<void()> StopSignals::Redirect(std::function<void()> onStop) {
  std::lock_guard lock(Impl->Mutex);
  std::swap(Impl->OnStop, onStop);
  return onStop;
}

StopSignals::~StopSignals() {
  pthread_kill(Impl->Waiter.native_handle(), SIGUSR2);
  Impl->Waiter.join();
  pthread_sigmask(SIG_SETMASK, &Impl->Previous, nullptr);
}

} // namespace kestrune
