#include "engine/SwapWatch.h"

namespace kestrune {

SwapWatch::State SwapWatch::Call(bool heard, bool bootAnswer, Clock::time_point now) {
  switch (Now) {
  case State::Present:
    // Any byte at all means a unit is still on the line.
    if (heard)
      LastHeard = now;
    else if (now - LastHeard >= Silence)
      Now = State::Gone;
    break;
  case State::Gone:
    // A unit being plugged in may send noise; only the boot ROM's answer
    // starts the run.
    if (bootAnswer)
      Now = State::Arrived;
    break;
  case State::Arrived:
    break;
  }
  return Now;
}

} // namespace kestrune
