// The station's repeat mode: after a run ends, whatever its outcome, the
// channel calls the boot ROM again for the next handset with the same image.
// The front end decides it; the worker asks its panel after every run.
#pragma once

#include <chrono>
#include <cstdint>

namespace kestrune {

// How long the boot ROM call must go unanswered before an answer counts as
// the next handset: the unit that was just flashed has been taken away or
// switched off. Long enough for any boot ROM to answer a call that reaches
// it, short enough not to slow an operator who swaps units by hand.
constexpr std::chrono::milliseconds DefaultSwapSilence{1000};

struct RepeatPlan {
  bool On = false;
  uint32_t Runs = 0; // runs in all per channel; 0: until stopped
  std::chrono::milliseconds SwapSilence = DefaultSwapSilence;

  // Whether another run follows after runsDone runs.
  bool WantsAnother(uint32_t runsDone) const { return On && (Runs == 0 || runsDone < Runs); }
};

} // namespace kestrune
