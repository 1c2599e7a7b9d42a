#include "cli/RepeatRuns.h"

namespace kestrune {
namespace {

ChannelOutcome SingleRunOutcome(RunOutcome outcome) {
  switch (outcome) {
  case RunOutcome::Passed: return ChannelOutcome::Completed;
  case RunOutcome::Stopped: return ChannelOutcome::Stopped;
  case RunOutcome::Failed: break;
  }
  return ChannelOutcome::Failed;
}

// A repeating channel completed when every handset it flashed passed and it
// was stopped, if at all, between handsets.
ChannelOutcome RepeatOutcome(const ChannelResult &r, RunOutcome last, bool endedWaiting) {
  if (r.Failed > 0)
    return ChannelOutcome::Failed;
  if (r.Passed > 0 && (last == RunOutcome::Passed || endedWaiting))
    return ChannelOutcome::Completed;
  return last == RunOutcome::Stopped ? ChannelOutcome::Stopped : ChannelOutcome::Failed;
}

} // namespace

std::string UnitVerdictText(const UnitVerdict &verdict) {
  std::string text = "unit " + std::to_string(verdict.Unit) + " " + RunOutcomeName(verdict.Outcome);
  if (verdict.Outcome == RunOutcome::Failed && !verdict.Text.empty())
    text += ": " + verdict.Text;
  return text;
}

void TakeRun(ChannelResult &result, const RunReport &report, const std::string &lastText,
             bool endedWaiting, bool repeat) {
  // A run that reached no handset is no unit: shown, but not counted.
  if (report.Unit && report.Outcome == RunOutcome::Passed)
    ++result.Passed;
  if (report.Unit && report.Outcome == RunOutcome::Failed)
    ++result.Failed;
  if (report.Unit && report.Outcome != RunOutcome::Stopped)
    result.Units.push_back({result.Passed + result.Failed, report.Outcome, report.FinalStatus});
  result.Run = report.Outcome;
  result.Bytes += report.BytesSent;
  result.LastText = lastText;
  // A failure stays the channel's last text even if a stop came after it.
  if (report.Outcome == RunOutcome::Failed && !report.FinalStatus.empty())
    result.LastText = report.FinalStatus;
  result.Outcome = repeat ? RepeatOutcome(result, report.Outcome, endedWaiting)
                          : SingleRunOutcome(report.Outcome);
}

} // namespace kestrune
