// A run's place under its job's count of units: asked for before the port
// opens, so that a unit the count has no room for is never touched, and
// given back once the run's outcome is known.
#include "engine/CommsThread.h"

namespace kestrune {

bool TCommsThread::AdmitUnit() {
  if (!Plan.Gate || StopCode != StopCodeRunning)
    return true;
  std::string shown;
  for (;;) {
    std::string text;
    UnitAdmission admission = Plan.Gate->Admit(ChannelRowRef.Number, text, &StopRequested);
    if (admission == UnitAdmission::Stopped)
      return false;
    if (admission == UnitAdmission::Admitted) {
      UnitAdmitted = true;
      return true;
    }
    if (admission == UnitAdmission::Refused) {
      uint32_t expected = StopCodeRunning;
      if (StopCode.compare_exchange_strong(expected, StopCodeUnitsBuilt))
        ShowFailure(text, StopCodeUnitsBuilt);
      return false;
    }
    if (text != shown)
      ShowStatus(text);
    shown = text;
    for (int i = 0; i < 10 && !StopRequested; ++i)
      SleepMs(20);
    if (StopRequested)
      return false;
  }
}

void TCommsThread::FinishUnit() {
  if (!UnitAdmitted)
    return;
  UnitAdmitted = false;
  Plan.Gate->Finish(ChannelRowRef.Number, LastReport.Outcome == RunOutcome::Passed);
}

} // namespace kestrune
