#include "jobcount/JobCountGate.h"

#include <chrono>

namespace kestrune::jobcount {

JobCountGate::JobCountGate(const JobKey &key, std::unique_ptr<JobUnitStore> store)
    : Key(key), Store(std::move(store)) {}

std::string JobCountGate::BuiltText() const {
  return "Job " + Key.Name + ": all " + std::to_string(Key.Units) + " units built";
}

std::string JobCountGate::StoppedText() const {
  return "Job " + Key.Name + ": stopped while asking for a place: no place taken";
}

// One channel's turn at the store; Held() false when its stop came first.
class JobCountGate::Turn {
public:
  Turn(JobCountGate &gate, const std::atomic<bool> *stop) : Gate(gate) {
    std::unique_lock lock(Gate.TurnMutex);
    while (Gate.Asking) {
      if (stop && *stop)
        return;
      Gate.TurnFree.wait_for(lock, std::chrono::milliseconds(20));
    }
    Gate.Asking = true;
    Taken = true;
  }
  ~Turn() {
    if (!Taken)
      return;
    {
      std::lock_guard lock(Gate.TurnMutex);
      Gate.Asking = false;
    }
    Gate.TurnFree.notify_one();
  }
  Turn(const Turn &) = delete;
  Turn &operator=(const Turn &) = delete;
  bool Held() const { return Taken; }

private:
  JobCountGate &Gate;
  bool Taken = false;
};

UnitAdmission JobCountGate::Admit(int channel, std::string &text,
                                  const std::atomic<bool> *stop) {
  Turn turn(*this, stop);
  if (!turn.Held() || (stop && *stop)) {
    text = StoppedText();
    return UnitAdmission::Stopped;
  }
  if (!Broken.empty()) {
    text = Broken;
    return UnitAdmission::Refused;
  }
  // This program's own units under way fill the places first: the store
  // need not be asked while they do.
  if (Flying >= Key.Units) {
    text = "Job " + Key.Name + ": " + std::to_string(uint64_t(Flying)) + " units under way";
    return UnitAdmission::Wait;
  }
  UnitPlace place;
  std::string why;
  if (!Store->Take(channel, place, why, stop)) {
    if (place.Stopped) {
      text = StoppedText();
      return UnitAdmission::Stopped;
    }
    text = "Job " + Key.Name + ": cannot count its units, so no unit starts: " + why;
    return UnitAdmission::Refused;
  }
  if (place.Passed >= Key.Units) {
    Built = true;
    text = BuiltText();
    return UnitAdmission::Refused;
  }
  if (!place.Taken) {
    text = "Job " + Key.Name + ": " + std::to_string(place.Passed) + " of " +
           std::to_string(Key.Units) + " units built, " + std::to_string(place.UnderWay) +
           " under way";
    return UnitAdmission::Wait;
  }
  Places[channel] = place.Ticket;
  const uint64_t now = ++Flying;
  uint64_t most = MostFlying;
  while (now > most && !MostFlying.compare_exchange_weak(most, now)) {
  }
  return UnitAdmission::Admitted;
}

void JobCountGate::Finish(int channel, bool passed) {
  Turn turn(*this, nullptr);
  auto it = Places.find(channel);
  if (it == Places.end())
    return;
  const int64_t ticket = it->second;
  Places.erase(it);
  --Flying;
  std::string why;
  if (Store->Settle(ticket, passed, why))
    return;
  // A passed unit the store did not take would let the count be passed;
  // a failed one only keeps its place taken.
  if (passed)
    Broken = "Job " + Key.Name + ": a passed unit could not be counted, so no unit starts: " +
             why;
}

} // namespace kestrune::jobcount
