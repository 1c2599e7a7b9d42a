// A run's claim on the values written into its unit, and how the run's end
// settles it: passed, spent on a unit that failed after a block holding
// one was sent, or returned when none left the host.
#include "engine/CommsThread.h"

namespace kestrune {

bool TCommsThread::ClaimUnitValues() {
  std::string error;
  if (!Plan.Values->Claim(ChannelRowRef.Number, ValueClaim, error)) {
    LastError = 0;
    ReportFileError(error);
    return false;
  }
  ValuesClaimed = true;
  LastReport.Serials = ValueClaim.Values;
  LastReport.SentSha256 =
      PatchedSha256(Plan.Image->File, Plan.Image->DataOffset, ValueClaim.Patches);
  Panel.RunOnGuiThread([this] { Panel.SetUnitValues(ValueClaim.Values); });
  return true;
}

void TCommsThread::SettleUnitValues() {
  if (!ValuesClaimed)
    return;
  ValuesClaimed = false;
  UnitValuesEnd end = LastReport.Outcome == RunOutcome::Passed ? UnitValuesEnd::Passed
                      : ValuesSent                             ? UnitValuesEnd::Spent
                                                               : UnitValuesEnd::Returned;
  // Values that go back were never on this unit: its record must not name
  // them, as the next unit gets them.
  if (end == UnitValuesEnd::Returned) {
    LastReport.Serials.clear();
    LastReport.SentSha256 = LastReport.ImageSha256;
  }
  std::string error;
  bool settled = false;
  try {
    settled = Plan.Values->Settle(ValueClaim, end, error);
  } catch (const std::exception &e) {
    error = e.what();
  } catch (...) {
    error = "Unknown exception";
  }
  // Unsettled, the values stay claimed and so are never used again; the
  // operator and the record learn why.
  if (!settled)
    LastReport.FinalStatus += " (serial values not settled: " + error + ")";
}

} // namespace kestrune
