// The worker's only way to its channel's panel. The Qt window, the command
// line front end and the tests each implement it; no worker touches a widget.
#pragma once

#include "engine/LineSpeed.h"
#include "engine/RepeatPlan.h"
#include "engine/RunReport.h"
#include "engine/RunProgress.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kestrune {

enum class StatusColour {
  Busy, // the system's button face
  Done, // sky blue, RGB A6CAF0
};

class ChannelPanel {
public:
  virtual ~ChannelPanel() = default;

  // Called from the worker's thread.
  virtual std::string PortText() = 0;
  virtual void SetProgressMaximum(uint32_t maximum) = 0;
  virtual void SetProgressPosition(uint32_t position) = 0;
  // How far the run has come, for the front end's progress display. The
  // panel keeps the values for its own thread to read; the defaults ignore
  // them.
  virtual void SetRunPhase(RunPhase phase) { (void)phase; }
  virtual void SetBytesSent(uint64_t sent, uint64_t total) {
    (void)sent;
    (void)total;
  }
  // Asked on every boot ROM call while a repeating channel waits for the
  // next handset, so that a change of the swap silence counts at once; the
  // default keeps the one the run's plan gave.
  virtual std::chrono::milliseconds SwapSilence(std::chrono::milliseconds planned) {
    return planned;
  }
  // Called when a run has ended, before the end-of-run notification shows
  // its outcome: returns once the run is on record, or once the front end
  // has said that it cannot be. The default keeps no record.
  virtual void KeepRecord(const RunReport &report) { (void)report; }
  // Runs fn on the window's thread and returns once it has run.
  virtual void RunOnGuiThread(const std::function<void()> &fn) = 0;

  // Called on the window's thread only (from inside RunOnGuiThread).
  // Asked after every run: whether the channel goes on with the next
  // handset. The default runs once.
  virtual RepeatPlan RepeatChoice() { return {}; }
  virtual void SetStatusText(const std::string &text) = 0;
  virtual void SetStatusColour(StatusColour colour) = 0;
  // A repeating channel's next handset has answered the boot ROM call: the
  // wait is over and the new unit's run begins. Until then the front end
  // keeps the last unit's verdict in view.
  virtual void BeginUnit() {}
  // The serial values (field name, text) just claimed for the unit being
  // flashed; the default ignores them.
  virtual void SetUnitValues(const std::vector<std::pair<std::string, std::string>> &values) {
    (void)values;
  }
};

} // namespace kestrune
