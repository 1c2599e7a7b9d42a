#include "tests/support/TestPanel.h"

#include "engine/StationRows.h"
#include "image/ImageState.h"

#include <algorithm>

namespace kestrune::test {

void TestPanel::SetStatusText(const std::string &text) {
  Texts.push_back(text);
  if (OnText)
    OnText(text);
}

bool TestPanel::Saw(const std::string &text) const {
  return std::find(Texts.begin(), Texts.end(), text) != Texts.end();
}

TestPanel &WorkerHarness::AddPanel(std::string port, SpeedButtons speed) {
  Panels.push_back(std::make_unique<TestPanel>(Queue, std::move(port), speed));
  Workers.push_back(nullptr);
  return *Panels.back();
}

TCommsThread *WorkerHarness::Start(int channel, std::unique_ptr<SerialPort> port) {
  TestPanel &panel = *Panels.at(size_t(channel - 1));
  RunPlan plan =
      PlanRun(LoadedImageReady.Get(), RowForButtons(panel.SpeedButtonStates()), panel.Repeat);
  return Start(channel, std::move(plan), std::move(port));
}

TCommsThread *WorkerHarness::Start(int channel, RunPlan plan, std::unique_ptr<SerialPort> port) {
  size_t index = size_t(channel - 1);
  TestPanel &panel = *Panels.at(index);
  panel.Terminated = false;
  Workers[index] = TCommsThread::Start(
      StationRow(index), panel, std::move(plan),
      [this, index, &panel](TCommsThread &worker) {
        panel.Reports.push_back(worker.Report());
        panel.EndedWaiting.push_back(worker.EndedWhileWaiting());
        if (panel.OnRunEnd)
          panel.OnRunEnd(worker.Report());
        if (worker.RunsOn())
          return;
        panel.Terminated = true;
        panel.FinalStopCode = worker.StopCodeValue();
        panel.FinalFileError = worker.FileErrorValue();
        panel.FinalReport = worker.Report();
        Workers[index] = nullptr;
      },
      std::move(port));
  return Workers[index];
}

bool WorkerHarness::ServeUntil(const std::function<bool()> &done,
                               std::chrono::milliseconds timeout) {
  // The condition may depend on more than the worker's calls (a line, a
  // flag), so it is looked at every few milliseconds too.
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!Queue.ServeUntil(done, std::chrono::milliseconds(2))) {
    if (std::chrono::steady_clock::now() >= deadline)
      return false;
  }
  return true;
}

bool WorkerHarness::ServeUntilAllEnded(std::chrono::milliseconds timeout) {
  return Queue.ServeUntil(
      [this] { return std::all_of(Workers.begin(), Workers.end(), [](auto *w) { return !w; }); },
      timeout);
}

WorkerHarness::~WorkerHarness() {
  for (TCommsThread *worker : Workers)
    if (worker)
      worker->RequestStop();
  ServeUntilAllEnded(std::chrono::seconds(30));
  TCommsThread::WaitForAllWorkers();
}

} // namespace kestrune::test
