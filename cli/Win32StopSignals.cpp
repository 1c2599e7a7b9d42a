// Ctrl+C, Ctrl+Break and the console window's close button as Stop All.
// Windows calls the console control handler on a thread of its own. For a
// close (and log-off, shut-down) it ends the process as soon as the handler
// returns, so the handler waits there until the run has ended and the
// result table is out, or until shortly before Windows' own limit of about
// five seconds.
#include "cli/StopSignals.h"

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace kestrune {
namespace {

std::mutex Lock;
std::condition_variable Ended;
std::function<void()> OnStop; // empty while no instance lives
bool RunEnded = true;

constexpr auto CloseGrace = std::chrono::milliseconds(4500);

BOOL WINAPI OnConsoleEvent(DWORD event) {
  std::unique_lock<std::mutex> hold(Lock);
  if (!OnStop)
    return FALSE; // the default: end the process
  OnStop();
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
    return TRUE;
  Ended.wait_for(hold, CloseGrace, [] { return RunEnded; });
  return TRUE;
}

} // namespace

struct StopSignals::State {};

StopSignals::StopSignals(std::function<void()> onStop) : Impl(std::make_unique<State>()) {
  {
    std::lock_guard<std::mutex> hold(Lock);
    OnStop = std::move(onStop);
    RunEnded = false;
  }
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

std::function<void()> StopSignals::Redirect(std::function<void()> onStop) {
  std::lock_guard<std::mutex> hold(Lock);
  std::swap(OnStop, onStop);
  return onStop;
}

StopSignals::~StopSignals() {
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  std::lock_guard<std::mutex> hold(Lock);
  OnStop = nullptr;
  RunEnded = true;
  Ended.notify_all();
}

} // namespace kestrune
