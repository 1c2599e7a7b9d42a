// A production job's count of units as the gate every channel asks before
// a unit starts: the units passed plus those under way stay within the
// job's, however many channels (and, through the store, programs and
// stations) build at once.
#pragma once

#include "engine/UnitGate.h"
#include "jobcount/JobUnitStore.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace kestrune::jobcount {

class JobCountGate : public UnitGate {
public:
  JobCountGate(const JobKey &key, std::unique_ptr<JobUnitStore> store);

  UnitAdmission Admit(int channel, std::string &text,
                      const std::atomic<bool> *stop = nullptr) override;
  void Finish(int channel, bool passed) override;

  // Whether the count was found reached: no further unit may pass.
  bool AllBuilt() const { return Built; }
  // This program's units under way now, and the most there were at once.
  uint64_t UnderWay() const { return Flying; }
  uint64_t MostUnderWay() const { return MostFlying; }

  // "Job fw-line-a: all 500 units built"
  std::string BuiltText() const;
  // "Job fw-line-a: stopped while asking for a place: no place taken"
  std::string StoppedText() const;

private:
  const JobKey Key;
  // The store is one connection: one channel asks it at a time, holding
  // the turn (Asking, under TurnMutex) while it does; a channel waiting for
  // its turn looks at its stop flag, so a stop need not wait for another
  // channel's ask. The members below are used only with the turn held.
  class Turn;
  std::mutex TurnMutex;
  std::condition_variable TurnFree;
  bool Asking = false;
  std::unique_ptr<JobUnitStore> Store;
  std::map<int, int64_t> Places; // channel: the place its unit holds
  std::string Broken;            // set once a passed unit could not be counted
  std::atomic<uint64_t> Flying{0};
  std::atomic<uint64_t> MostFlying{0};
  std::atomic<bool> Built{false};
};

} // namespace kestrune::jobcount
