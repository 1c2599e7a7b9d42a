// Faulty units at random, for soak runs of a whole line: before each run the
// handset draws, from a seeded generator, whether the unit on the line has a
// fault and which one. The same seed gives the same line of units.
#pragma once

#include "handset/HandsetOptions.h"

#include <cstdint>
#include <random>
#include <string>

namespace kestrune::handset {

class UnitFaults {
public:
  UnitFaults(uint32_t seed, uint32_t percent) : Random(seed), Percent(percent) {}

  // The options of the next unit: the handset's own, with the faults of the
  // earlier unit cleared and this unit's fault, if it draws one, set.
  // Describes the fault drawn in `what` ("" for a good unit).
  HandsetOptions Next(const HandsetOptions &base, std::string &what);

private:
  std::mt19937 Random;
  uint32_t Percent;
};

} // namespace kestrune::handset
