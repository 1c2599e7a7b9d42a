#include "platform/TimerResolution.h"

#include <mutex>

#ifdef _WIN32
#include <windows.h>

#include <timeapi.h>
#endif

namespace kestrune {
namespace {

std::mutex Lock;
int Count = 0;

void RaiseResolution() {
#ifdef _WIN32
  timeBeginPeriod(1);
#endif
}

void RestoreResolution() {
#ifdef _WIN32
  timeEndPeriod(1);
#endif
}

} // namespace

FineTimer::FineTimer() {
  std::lock_guard<std::mutex> hold(Lock);
  if (Count++ == 0)
    RaiseResolution();
}

FineTimer::~FineTimer() {
  std::lock_guard<std::mutex> hold(Lock);
  if (--Count == 0)
    RestoreResolution();
}

int FineTimer::Holders() {
  std::lock_guard<std::mutex> hold(Lock);
  return Count;
}

} // namespace kestrune
