// A channel's panel as its worker sees it, for the Qt window. The worker
// never touches a widget: the port text and the speed buttons are mirrored
// into values the window keeps up to date on its own thread, progress goes
// to the bar through queued calls, and status texts and colours are set by
// calls run on the window's thread while the worker waits.
#pragma once

#include "engine/ChannelPanel.h"

#include <QColor>
#include <QPointer>

#include <atomic>
#include <mutex>

class QObject;
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

class QtChannelPanel final : public ChannelPanel {
public:
  // guiContext lives on the window's thread; every call onto that thread
  // goes through it.
  QtChannelPanel(QObject *guiContext, QProgressBar *progressBar, QStatusBar *statusBar,
                 const SpeedMirror &speeds);

  // Worker side.
  std::string PortText() override;
  SpeedButtons SpeedButtonStates() override;
  void SetProgressMaximum(uint32_t maximum) override;
  void SetProgressPosition(uint32_t position) override;
  void SetRunPhase(RunPhase phase) override { RunProgressValues.SetPhase(phase); }
  void SetBytesSent(uint64_t sent, uint64_t total) override {
    RunProgressValues.SetBytes(sent, total);
  }
  void RunOnGuiThread(const std::function<void()> &fn) override;

  // Window side (window's thread only).
  void SetStatusText(const std::string &text) override;
  void SetStatusColour(StatusColour colour) override;
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
  void PostProgress();
  void ApplyProgress();

  QObject *GuiContext;
  QPointer<QProgressBar> ProgressBar;
  QPointer<QStatusBar> StatusBar;
  const SpeedMirror &Speeds;

  std::mutex PortMutex;
  std::string Port;

  // The latest values a worker asked for; one queued call at a time takes
  // them to the bar, so a fast worker cannot flood the window's queue.
  std::atomic<uint32_t> ProgressMaximum{100};
  std::atomic<uint32_t> ProgressPosition{1};
  std::atomic<bool> ProgressPosted{false};

  RunProgressMonitor RunProgressValues;
  std::function<void(const std::string &)> StatusTextHook;
};

} // namespace kestrune
