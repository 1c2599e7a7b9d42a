// A channel's panel as its worker sees it, for the Qt window. The worker
// never touches a widget: the port text and the speed buttons are mirrored
// into values the window keeps up to date on its own thread, progress
// values wait in atomics for the window's thread to take them to the bar,
// and status texts and colours are set by calls that wait in the panel's
// queue until the window's thread has run them. Qt's event queue only
// carries the nudge that makes the window's thread look.
#pragma once

#include "engine/ChannelPanel.h"
#include "engine/GuiCallQueue.h"

#include <QColor>
#include <QPointer>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

class QProgressBar;
class QStatusBar;

namespace kestrune {

// The three speed buttons as the window last saw them.
struct SpeedMirror {
  std::atomic<bool> Radio920Button{true};
  std::atomic<bool> Radio230Button{false};
  std::atomic<bool> Radio460Button{false};
};

// The status line's colours: the button face while a worker runs, sky blue
// (RGB A6CAF0) when it has ended.
QColor BusyStatusColour();
QColor DoneStatusColour();

class WindowThreadNudge;

class QtChannelPanel final : public ChannelPanel {
public:
  // Made on the window's thread, which is the one that serves the panel.
  QtChannelPanel(QProgressBar *progressBar, QStatusBar *statusBar, const SpeedMirror &speeds);
  // No worker may be running on the panel; one still waiting is let go.
  ~QtChannelPanel() override;

  // Worker side.
  std::string PortText() override;
  SpeedButtons SpeedButtonStates();
  void SetProgressMaximum(uint32_t maximum) override;
  void SetProgressPosition(uint32_t position) override;
  void SetRunPhase(RunPhase phase) override { RunProgressValues.SetPhase(phase); }
  void SetBytesSent(uint64_t sent, uint64_t total) override {
    RunProgressValues.SetBytes(sent, total);
  }
  void RunOnGuiThread(const std::function<void()> &fn) override;
  std::chrono::milliseconds SwapSilence(std::chrono::milliseconds planned) override {
    return SwapSilenceSource ? std::chrono::milliseconds(SwapSilenceSource->load()) : planned;
  }

  void KeepRecord(const RunReport &report) override {
    if (RecordKeeper)
      RecordKeeper(report);
  }
  // Set while no worker runs on the panel; called on the worker's thread.
  void SetRecordKeeper(std::function<void(const RunReport &)> keeper) {
    RecordKeeper = std::move(keeper);
  }

  // Window side (window's thread only).
  void SetStatusText(const std::string &text) override;
  void SetStatusColour(StatusColour colour) override;
  void BeginUnit() override {
    if (UnitHook)
      UnitHook();
  }
  // Called on the window's thread when a repeating channel's next handset
  // has answered.
  void SetUnitHook(std::function<void()> hook) { UnitHook = std::move(hook); }
  void SetUnitValues(const std::vector<std::pair<std::string, std::string>> &values) override {
    if (ValuesHook)
      ValuesHook(values);
  }
  void SetUnitValuesHook(
      std::function<void(const std::vector<std::pair<std::string, std::string>> &)> hook) {
    ValuesHook = std::move(hook);
  }
  RepeatPlan RepeatChoice() override { return RepeatSource ? RepeatSource() : RepeatPlan{}; }
  // Where the repeat mode is read after each run (the window's check box).
  void SetRepeatSource(std::function<RepeatPlan()> source) { RepeatSource = std::move(source); }
  // The window's swap silence in milliseconds, which the window keeps up
  // to date; it must outlive the panel.
  void SetSwapSilenceSource(const std::atomic<int64_t> *milliseconds) {
    SwapSilenceSource = milliseconds;
  }
  void SetPortText(const std::string &text);
  // Puts the bar back to its minimum; no worker may be running.
  void ResetProgress();
  // The whole run's progress, written by the worker under its own lock;
  // the window polls it with a timer.
  RunProgressMonitor &RunProgressState() { return RunProgressValues; }
  // Called on the window's thread with every text the worker shows.
  void SetStatusTextHook(std::function<void(const std::string &)> hook) {
    StatusTextHook = std::move(hook);
  }

private:
  // Window's thread: runs the waiting calls, then brings the bar up to date.
  void Serve();
  void ApplyProgress();

  const std::thread::id GuiThread;
  QPointer<QProgressBar> ProgressBar;
  QPointer<QStatusBar> StatusBar;
  const SpeedMirror &Speeds;
  std::function<RepeatPlan()> RepeatSource;
  const std::atomic<int64_t> *SwapSilenceSource = nullptr;

  std::mutex PortMutex;
  std::string Port;

  // The latest values a worker asked for; the next nudge takes them to the
  // bar. At most one nudge waits at a time, so a fast worker cannot flood
  // the window's event queue.
  std::atomic<uint32_t> ProgressMaximum{100};
  std::atomic<uint32_t> ProgressPosition{1};
  std::atomic<bool> ProgressPosted{false};

  GuiCallQueue Calls;
  std::unique_ptr<WindowThreadNudge> Nudge;
  RunProgressMonitor RunProgressValues;
  std::function<void(const std::string &)> StatusTextHook;
  std::function<void(const RunReport &)> RecordKeeper;
  std::function<void()> UnitHook;
  std::function<void(const std::vector<std::pair<std::string, std::string>> &)> ValuesHook;
};

} // namespace kestrune
