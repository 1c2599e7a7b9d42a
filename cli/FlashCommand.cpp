#include "cli/FlashCommand.h"

#include "cli/CliPanel.h"
#include "cli/ConvertCommand.h"
#include "cli/JsonEvents.h"
#include "cli/LiveLines.h"
#include "cli/RepeatRuns.h"
#include "cli/ResultTable.h"
#include "cli/StopSignals.h"
#include "platform/Utf8Paths.h"
#include "engine/CommsThread.h"
#include "engine/GuiCallQueue.h"
#include "engine/LineSpeed.h"
#include "engine/RunPlan.h"
#include "image/ImageState.h"
#include "engine/StationRows.h"
#ifdef KESTRUNE_HAVE_RECORDS
#include "records/Recorder.h"
#include "records/StationState.h"
#endif

#include <array>
#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <optional>

namespace kestrune {
namespace {

using Clock = std::chrono::steady_clock;

// Main thread only: the panels' texts are written there.
void DrawProgress(LiveLines &live, const std::vector<std::unique_ptr<CliPanel>> &panels) {
  std::vector<LiveChannel> channels;
  for (const auto &panel : panels)
    channels.push_back({panel->Row().Number, panel->Port(),
                        panel->RunProgressState().Snapshot(),
                        panel->UnitValuesText().empty()
                            ? panel->LastText()
                            : "[" + panel->UnitValuesText() + "] " + panel->LastText(),
                        panel->WaitingVerdict()});
  live.Draw(channels);
}

bool WriteSummary(const std::string &path, const std::vector<ChannelResult> &results) {
  std::ofstream file(PathFromUtf8(path));
  for (const ChannelResult &r : results)
    file << r.Channel << '\t' << r.Port << '\t' << OutcomeName(r.Outcome) << '\t' << r.Seconds
         << '\t' << r.LastText << '\n';
  file.close();
  return !file.fail();
}

} // namespace

const char *OutcomeName(ChannelOutcome outcome) {
  switch (outcome) {
  case ChannelOutcome::Completed: return "completed";
  case ChannelOutcome::Stopped: return "stopped";
  case ChannelOutcome::Failed: break;
  }
  return "failed";
}

int RunFlash(const FlashOptions &options, std::ostream &out, std::ostream &progress,
             std::vector<ChannelResult> *results) {
  GuiCallQueue queue;
  std::atomic<bool> stopWanted{false};
  auto stopAll = [&] {
    stopWanted = true;
    queue.Wake();
  };
  std::optional<StopSignals> ownSignals;
  struct HandBack {
    StopSignals *Signals;
    std::function<void()> Previous;
    ~HandBack() {
      if (Signals)
        Signals->Redirect(std::move(Previous));
    }
  } handBack{options.Signals, {}};
  if (options.Signals)
    handBack.Previous = options.Signals->Redirect(stopAll);
  else
    ownSignals.emplace(stopAll);
  // No channel starts unless the image is ready. JSON lines stay alone on
  // their output.
  if (!options.Image.empty() && RunConvert(options.Image, options.Json ? progress : out) != 0)
    return 1;
  // Stopped while the image was read: no channel starts.
  if (stopWanted)
    return 1;
  // The load's bytes, shared by every channel and every unit of this
  // command: a file changed afterwards is not read again.
  const std::shared_ptr<const ImageBytes> image =
      options.Image.empty() ? nullptr : LoadedImageReady.Get();
  if (!options.ImageSha256.empty() && (!image || image->Sha256 != options.ImageSha256)) {
    progress << "kestrune-cli: job " << options.JobTitle << " refused: image '" << options.Image
             << "' has SHA-256 " << (image ? image->Sha256 : std::string("(none)"))
             << ", the job pins " << options.ImageSha256 << '\n'
             << std::flush;
    return 1;
  }
  // The serial values are made ready before any port opens: a scheme that
  // does not fit the image, or a ledger that cannot be opened, stops here.
  std::shared_ptr<UnitValues> unitValues;
  if (options.UnitValuesFor && image) {
    std::string why;
    unitValues = options.UnitValuesFor(*image, why);
    if (!unitValues) {
      progress << "kestrune-cli: "
               << (options.JobTitle.empty() ? "" : "job " + options.JobTitle + " refused: ")
               << why << '\n'
               << std::flush;
      return 1;
    }
  }
  JsonEvents json(out);

  const size_t count = options.Ports.size();
  std::vector<std::unique_ptr<CliPanel>> panels;
  std::vector<ChannelResult> outcome(count);
  std::vector<TCommsThread *> slots(count, nullptr);
  std::vector<bool> running(count, false);
  std::vector<std::string> lastOutcome(count); // main thread only
  const SpeedButtons speed = ButtonsForRow(options.SpeedRow);
  const auto started = Clock::now();

  for (size_t i = 0; i < count; ++i) {
    panels.push_back(std::make_unique<CliPanel>(StationRow(i), options.Ports[i], speed, queue,
                                                out, options.Verbose, options.Progress));
    panels[i]->SetRepeat(options.Repeat);
    if (options.Json)
      panels[i]->SetJsonEvents(&json);
#ifdef KESTRUNE_HAVE_RECORDS
    // The outcome is shown only once its record is written (or its failure
    // said): a crash right after it loses no record that was shown.
    if (options.Records)
      panels[i]->SetRecordKeeper(
          [recorder = options.Records](const RunReport &report) { recorder->Keep(report); });
#endif
    outcome[i].Channel = StationRow(i).Number;
    outcome[i].Port = options.Ports[i];
  }
  for (size_t i = 0; i < count; ++i) {
    running[i] = true;
    panels[i]->RunProgressState().Begin();
    if (options.Json)
      json.RunStart(outcome[i].Channel, options.Ports[i], 1);
    RunPlan plan = PlanRun(image, options.SpeedRow, options.Repeat);
    plan.Values = unitValues;
    plan.JobName = options.JobName;
    plan.JobVersion = options.JobVersion;
    plan.JobSha256 = options.JobSha256;
    plan.Gate = options.Gate;
    slots[i] = TCommsThread::Start(StationRow(i), *panels[i], std::move(plan),
                                   [&, i](TCommsThread &worker) {
      ChannelResult &r = outcome[i];
      const RunReport &report = worker.Report();
      r.Seconds = std::chrono::duration<double>(Clock::now() - started).count();
      TakeRun(r, report, panels[i]->LastText(), worker.EndedWhileWaiting(), options.Repeat.On);
      panels[i]->RunProgressState().Finish(report.Outcome);
      lastOutcome[i] = RunOutcomeName(report.Outcome);
      const bool unit = report.Unit && report.Outcome != RunOutcome::Stopped;
      if (options.Json)
        json.Outcome(r.Channel, worker.RunNumber(), report, worker.EndedWhileWaiting());
      if (options.Json && unit)
        json.Verdict(r.Channel, r.Port, r.Units.back().Unit, worker.RunNumber(), report.Outcome,
                     report.FinalStatus, report.Serials);
      // Repeat mode: the same worker goes on with the next handset.
      if (worker.RunsOn()) {
        panels[i]->RunProgressState().Begin();
        panels[i]->SetWaitingVerdict(unit ? UnitVerdictText(r.Units.back()) : std::string());
        if (options.Json)
          json.RunStart(r.Channel, r.Port, worker.RunNumber() + 1);
        return;
      }
      if (options.Json)
        json.End(r.Channel, r.Port, r.Passed, r.Failed, OutcomeName(r.Outcome));
      slots[i] = nullptr;
      running[i] = false;
    });
  }

  // The channels' state for the line's dashboard, published from this
  // thread, which alone reads the panels' texts.
  auto publishState = [&] {
#ifdef KESTRUNE_HAVE_RECORDS
    if (!options.State)
      return;
    std::vector<records::ChannelState> channels;
    for (size_t i = 0; i < count; ++i) {
      const ProgressSnapshot p = panels[i]->RunProgressState().Snapshot();
      channels.push_back({outcome[i].Channel, options.Ports[i], RunPhaseName(p.Phase),
                          p.RunPercent, panels[i]->UnitValuesText(), lastOutcome[i],
                          panels[i]->LastText(), image ? image->Sha256 : std::string(),
                          options.JobTitle});
    }
    options.State->Publish(std::move(channels));
#endif
  };
  publishState();

  bool stopsSent = false;
  auto allEnded = [&] {
    if (stopWanted && !stopsSent) {
      stopsSent = true;
      for (TCommsThread *worker : slots)
        if (worker)
          worker->RequestStop();
    }
    for (TCommsThread *worker : slots)
      if (worker)
        return false;
    return true;
  };
  if (options.Progress) {
    LiveLines live(progress, TerminalWidth(2));
    while (!queue.ServeUntil(allEnded, std::chrono::milliseconds(200))) {
      DrawProgress(live, panels);
      publishState();
    }
    DrawProgress(live, panels);
  } else if (options.State) {
    while (!queue.ServeUntil(allEnded, std::chrono::milliseconds(500)))
      publishState();
  } else {
    queue.ServeUntil(allEnded);
  }
  publishState();
  TCommsThread::WaitForAllWorkers();

  PrintResultTable(progress, outcome, options.Repeat.On);
  bool allCompleted = true;
  for (const ChannelResult &r : outcome)
    allCompleted = allCompleted && r.Outcome == ChannelOutcome::Completed;
  const bool summaryWritten =
      options.SummaryFile.empty() || WriteSummary(options.SummaryFile, outcome);
  if (!summaryWritten) {
    progress << "kestrune-cli: could not write summary '" << options.SummaryFile << "'\n"
             << std::flush;
    allCompleted = false;
  }
  // The job's count reached ends the job: each channel ended for it or
  // completed, and no unit failed.
  bool built = options.AllBuilt && options.AllBuilt();
  for (const ChannelResult &r : outcome)
    built = built && r.Failed == 0 &&
            (r.Outcome == ChannelOutcome::Completed || r.Run == RunOutcome::Failed);
  if (results)
    *results = std::move(outcome);
  if (!summaryWritten)
    return 1;
  return built ? UnitsBuiltExit : allCompleted ? 0 : 1;
}

} // namespace kestrune
