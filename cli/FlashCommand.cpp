#include "cli/FlashCommand.h"

#include "cli/CliPanel.h"
#include "cli/ConvertCommand.h"
#include "cli/StopSignals.h"
#include "engine/CommsThread.h"
#include "engine/GuiCallQueue.h"
#include "engine/LineSpeed.h"
#ifdef KESTRUNE_HAVE_RECORDS
#include "records/Recorder.h"
#endif

#include <array>
#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>

namespace kestrune {
namespace {

using Clock = std::chrono::steady_clock;
const std::string CompletedText = "다운로드 완료 !!!!!!!!!!!!!!!!!";

void DrawProgress(std::ostream &progress, const std::vector<std::unique_ptr<CliPanel>> &panels,
                  const std::vector<bool> &running) {
  std::string line = "\r";
  for (size_t i = 0; i < panels.size(); ++i) {
    uint32_t max = panels[i]->Maximum(), pos = panels[i]->Position();
    constexpr int Width = 10;
    int filled = max ? int(std::min<uint64_t>(Width, uint64_t(pos) * Width / max)) : 0;
    line += std::to_string(i + 1) + (running[i] ? "[" : "(") + std::string(filled, '#') +
            std::string(Width - filled, '.') + (running[i] ? "] " : ") ");
  }
  progress << line << "\033[K" << std::flush;
}

void WriteSummary(const std::string &path, const std::vector<ChannelResult> &results) {
  std::ofstream file(path);
  for (const ChannelResult &r : results)
    file << r.Channel << '\t' << r.Port << '\t' << OutcomeName(r.Outcome) << '\t' << r.Seconds
         << '\t' << r.LastText << '\n';
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
  InitSpeedTables();
  // No channel starts unless the image is ready.
  if (!options.Image.empty() && RunConvert(options.Image, out) != 0)
    return 1;

  GuiCallQueue queue;
  std::atomic<bool> stopWanted{false};
  StopSignals signals([&] {
    stopWanted = true;
    queue.Wake();
  });

  const size_t count = options.Ports.size();
  std::vector<std::unique_ptr<CliPanel>> panels;
  std::vector<ChannelResult> outcome(count);
  std::vector<TCommsThread *> slots(count, nullptr);
  std::vector<bool> running(count, false);
  const SpeedButtons speed = ButtonsForRow(options.SpeedRow);
  const auto started = Clock::now();

  for (size_t i = 0; i < count; ++i) {
    panels.push_back(std::make_unique<CliPanel>(ChannelRows[i], options.Ports[i], speed, queue,
                                                out, options.Verbose, options.Progress));
    outcome[i].Channel = ChannelRows[i].Number;
    outcome[i].Port = options.Ports[i];
  }
  for (size_t i = 0; i < count; ++i) {
    running[i] = true;
    slots[i] = TCommsThread::Start(ChannelRows[i], *panels[i], [&, i](TCommsThread &worker) {
      ChannelResult &r = outcome[i];
#ifdef KESTRUNE_HAVE_RECORDS
      if (options.Records)
        options.Records->Submit(worker.Report());
#endif
      r.LastText = panels[i]->LastText();
      r.Seconds = std::chrono::duration<double>(Clock::now() - started).count();
      if (worker.StopCodeValue() == StopCodeOperator)
        r.Outcome = ChannelOutcome::Stopped;
      else if (worker.StopCodeValue() == 0 && worker.FileErrorValue() == 0 &&
               r.LastText == CompletedText)
        r.Outcome = ChannelOutcome::Completed;
      else
        r.Outcome = ChannelOutcome::Failed;
      slots[i] = nullptr;
      running[i] = false;
    });
  }

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
    while (!queue.ServeUntil(allEnded, std::chrono::milliseconds(200)))
      DrawProgress(progress, panels, running);
    DrawProgress(progress, panels, running);
    progress << '\n';
  } else {
    queue.ServeUntil(allEnded);
  }
  TCommsThread::WaitForAllWorkers();

  if (!options.SummaryFile.empty())
    WriteSummary(options.SummaryFile, outcome);
  bool allCompleted = true;
  for (const ChannelResult &r : outcome)
    allCompleted = allCompleted && r.Outcome == ChannelOutcome::Completed;
  if (results)
    *results = std::move(outcome);
  return allCompleted ? 0 : 1;
}

} // namespace kestrune
