// The rule that keeps a repeating channel from flashing one handset twice:
// the boot ROM call must first go unanswered for the swap silence (the unit
// that was flashed is gone), and only a boot ROM answer after that counts as
// the next handset. Plain logic over the caller's clock.
#pragma once

#include <chrono>

namespace kestrune {

class SwapWatch {
public:
  using Clock = std::chrono::steady_clock;

  enum class State {
    Present, // something still answers, or has not been silent long enough
    Gone,    // silent for the whole swap silence: waiting for the next unit
    Arrived, // the next unit's boot ROM answered
  };

  // The silence is counted from start: a unit that never answers is gone
  // once the silence has passed.
  SwapWatch(std::chrono::milliseconds silence, Clock::time_point start)
      : Silence(silence), LastHeard(start) {}

  // One call of the boot ROM: heard is whether any byte came back,
  // bootAnswer whether it was the boot ROM's answer.
  State Call(bool heard, bool bootAnswer, Clock::time_point now);
  // The operator may change the silence while a channel waits: the silence
  // so far counts against the new length from the next call on.
  void SetSilence(std::chrono::milliseconds silence) { Silence = silence; }
  State Current() const { return Now; }

private:
  std::chrono::milliseconds Silence;
  Clock::time_point LastHeard;
  State Now = State::Present;
};

} // namespace kestrune
