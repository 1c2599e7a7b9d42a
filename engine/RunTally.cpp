#include "engine/RunTally.h"

#include <cstdio>

namespace kestrune {

void RunTally::Count(RunOutcome outcome) {
  switch (outcome) {
  case RunOutcome::Passed:
    ++Passed;
    break;
  case RunOutcome::Failed:
    ++Failed;
    break;
  case RunOutcome::Stopped:
    break;
  }
}

double RunTally::YieldPercent() const {
  return Runs() == 0 ? 0.0 : 100.0 * double(Passed) / double(Runs());
}

std::string RunTally::Text() const {
  char yield[16] = "–";
  if (HasYield())
    std::snprintf(yield, sizeof yield, "%.1f%%", YieldPercent());
  return std::to_string(Passed) + " passed · " + std::to_string(Failed) + " failed · " + yield;
}

RunTally &RunTally::operator+=(const RunTally &other) {
  Passed += other.Passed;
  Failed += other.Failed;
  return *this;
}

} // namespace kestrune
