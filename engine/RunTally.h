// Passed and failed runs of one channel and of the station, with the yield.
// A stopped run is neither: the operator ended it before a verdict; nor is
// a run that reached no handset.
#pragma once

#include "engine/RunReport.h"

#include <array>
#include <cstdint>
#include <string>

namespace kestrune {

struct RunTally {
  uint32_t Passed = 0;
  uint32_t Failed = 0;

  void Count(RunOutcome outcome);
  // A run that reached no unit is not counted.
  void Count(const RunReport &report) {
    if (report.Unit)
      Count(report.Outcome);
  }
  uint32_t Runs() const { return Passed + Failed; }
  // Passed of passed and failed, in percent; nothing when there are none.
  bool HasYield() const { return Runs() > 0; }
  double YieldPercent() const;
  // "12 passed · 3 failed · 80.0%", "0 passed · 0 failed · –".
  std::string Text() const;

  RunTally &operator+=(const RunTally &other);
  bool operator==(const RunTally &) const = default;
};

template <size_t N> RunTally StationTally(const std::array<RunTally, N> &channels) {
  RunTally station;
  for (const RunTally &tally : channels)
    station += tally;
  return station;
}

} // namespace kestrune
