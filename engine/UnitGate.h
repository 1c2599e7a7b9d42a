// The gate a production job's count of units puts before every unit: a
// channel asks before each unit starts (a repeating channel before each
// handset), several channels at once, and says the unit's end afterwards,
// whatever it was. Implemented outside the engine; a plan without one
// starts every unit.
#pragma once

#include <atomic>
#include <string>

namespace kestrune {

enum class UnitAdmission {
  Admitted, // the unit may start; its place is held until Finish
  Wait,     // the places are all taken by units under way: ask again soon
  Refused,  // no unit may start (the count is reached, or it cannot be had)
  Stopped,  // the ask was ended by a stop: no place is held
};

class UnitGate {
public:
  virtual ~UnitGate() = default;
  // On the channel's worker thread. text says why for Wait and Refused.
  // Once stop is set (the channel's Stop) the ask ends soon, however long
  // the place would have taken to get, with Stopped.
  virtual UnitAdmission Admit(int channel, std::string &text,
                              const std::atomic<bool> *stop = nullptr) = 0;
  // Once for every admitted unit, on every outcome.
  virtual void Finish(int channel, bool passed) = 0;
};

} // namespace kestrune
