#include "platform/FatalSignalCleanup.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace kestrune {
namespace {

enum SlotState : int { Free, Busy, Armed };

// Fixed storage, so that the handler reads no memory that can go away.
struct Slot {
  std::atomic<int> State{Free};
  char Path[4096];
};

constexpr int SlotCount = 16;
Slot Slots[SlotCount];

constexpr int Signals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int SignalCount = 3;

std::mutex InstallMutex;
int ArmedCount = 0;                       // under InstallMutex
bool Installed[SignalCount] = {};         // under InstallMutex
struct sigaction Previous[SignalCount];   // under InstallMutex

extern "C" void OnFatalSignal(int signalNumber) {
  int saved = errno;
  RemoveArmedFiles();
  // End the process as the default action would have.
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  ::sigaction(signalNumber, &fallback, nullptr);
  ::raise(signalNumber); // delivered as soon as the handler returns
  errno = saved;
}

bool IsDefault(const struct sigaction &action) {
  return (action.sa_flags & SA_SIGINFO) == 0 && action.sa_handler == SIG_DFL;
}

void InstallHandlers() {
  for (int i = 0; i < SignalCount; ++i) {
    struct sigaction current {};
    if (::sigaction(Signals[i], nullptr, &current) != 0 || !IsDefault(current))
      continue;
    struct sigaction action {};
    action.sa_handler = OnFatalSignal;
    sigemptyset(&action.sa_mask);
    for (int other : Signals)
      sigaddset(&action.sa_mask, other);
    Installed[i] = ::sigaction(Signals[i], &action, &Previous[i]) == 0;
  }
}

void RestoreHandlers() {
  for (int i = 0; i < SignalCount; ++i) {
    if (!Installed[i])
      continue;
    Installed[i] = false;
    struct sigaction current {};
    // Put the old action back unless someone has replaced ours since.
    if (::sigaction(Signals[i], nullptr, &current) == 0 && (current.sa_flags & SA_SIGINFO) == 0 &&
        current.sa_handler == OnFatalSignal)
      ::sigaction(Signals[i], &Previous[i], nullptr);
  }
}

} // namespace

void RemoveArmedFiles() {
  for (Slot &slot : Slots)
    if (slot.State.load() == Armed)
      ::unlink(slot.Path);
}

int ArmFatalSignalCleanup(const std::string &path) {
  if (path.size() >= sizeof Slots[0].Path)
    return -1;
  std::lock_guard lock(InstallMutex);
  for (int i = 0; i < SlotCount; ++i) {
    int expected = Free;
    if (!Slots[i].State.compare_exchange_strong(expected, Busy))
      continue;
    std::memcpy(Slots[i].Path, path.c_str(), path.size() + 1);
    Slots[i].State.store(Armed);
    if (ArmedCount++ == 0)
      InstallHandlers();
    return i;
  }
  return -1;
}

void DisarmFatalSignalCleanup(int ticket) {
  if (ticket < 0 || ticket >= SlotCount)
    return;
  std::lock_guard lock(InstallMutex);
  Slots[ticket].State.store(Free);
  if (--ArmedCount == 0)
    RestoreHandlers();
}

} // namespace kestrune
