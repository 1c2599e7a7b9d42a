// A change of where records go (the records dialog's "Server or file" and
// "Station") takes effect at the next Start while no channel runs: the run
// records, the serial values' ledger, the open job's count of units and the
// live state for the line's dashboard all move to the new place together.
// While channels run the dialog refuses the change; a change made to the
// settings some other way waits until no channel runs.
#include "ui/JobModePanel.h"
#include "ui/KestruneUiForm.h"
#include "ui/LiveStateFeed.h"
#include "ui/SerialSchemePanel.h"
#include "ui/WindowRecords.h"

namespace kestrune {

std::string TKestruneUiForm::FollowRecordsPlace() {
  if (Registry && Records && AllChannelsIdle() && Records->FollowSettings(*Registry)) {
    LiveState->Stop();
    LiveState.reset();
    StartLiveState();
    Serials->SetLedgerPlace(Records->Target(), Records->StationSetting());
    JobMode->SetRecordsPlace(Records->Target(), Records->StationSetting());
    // The open job's units are counted where its records now go.
    JobGate.reset();
  }
  // No unit of a job with a count starts uncounted: a count that could not
  // be opened at the new place is tried again at each Start, which is
  // refused until it opens.
  if (!JobMode->IsOpen() || !JobMode->Job().Units || JobGate)
    return {};
  if (std::string problem = OpenJobCount(JobMode->Job()); !problem.empty())
    return "job " + JobMode->Job().Name + " " + problem;
  return {};
}

} // namespace kestrune
