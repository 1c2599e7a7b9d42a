// A channel panel for the command line: status texts become lines on the
// output (on a terminal they feed the channel's live line instead), progress
// is kept for the progress display, and calls "onto the window's thread" go
// to the main thread through a GuiCallQueue.
#pragma once

#include "engine/ChannelPanel.h"
#include "engine/ChannelRow.h"
#include "engine/LineSpeed.h"
#include "engine/GuiCallQueue.h"
#include "engine/RepeatPlan.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <ostream>
#include <string>

namespace kestrune {

class JsonEvents;

class CliPanel final : public ChannelPanel {
public:
  CliPanel(const ChannelRow &row, std::string port, SpeedButtons speed, GuiCallQueue &queue,
           std::ostream &out, bool verbose, bool clearLine = false);

  std::string PortText() override { return PortName; }
  SpeedButtons SpeedButtonStates() const { return Speed; }
  void SetProgressMaximum(uint32_t maximum) override { ProgressMaximum = maximum; }
  void SetProgressPosition(uint32_t position) override { ProgressPosition = position; }
  void SetRunPhase(RunPhase phase) override;
  void SetBytesSent(uint64_t sent, uint64_t total) override;
  void RunOnGuiThread(const std::function<void()> &fn) override { Queue.RunAndWait(fn); }
  void SetStatusText(const std::string &text) override;
  void SetStatusColour(StatusColour colour) override;
  RepeatPlan RepeatChoice() override { return Repeat; }
  void KeepRecord(const RunReport &report) override {
    if (RecordKeeper)
      RecordKeeper(report);
  }
  void BeginUnit() override;
  void SetUnitValues(const std::vector<std::pair<std::string, std::string>> &values) override;

  // Set before the channel starts: events as JSON lines instead of text
  // lines, and the station's repeat mode.
  void SetJsonEvents(JsonEvents *events) { Json = events; }
  void SetRepeat(const RepeatPlan &plan) { Repeat = plan; }
  // Set before the channel starts; called on the worker's thread.
  void SetRecordKeeper(std::function<void(const RunReport &)> keeper) {
    RecordKeeper = std::move(keeper);
  }

  const ChannelRow &Row() const { return ChannelRowRef; }
  const std::string &Port() const { return PortName; }
  // Main thread only.
  const std::string &LastText() const { return Text; }
  // A repeating channel's last unit's verdict, kept until the next unit
  // answers; empty otherwise.
  const std::string &WaitingVerdict() const { return Verdict; }
  // The serial values of the unit being flashed, "sn=0000001000 mac=...";
  // main thread only.
  const std::string &UnitValuesText() const { return Values; }
  void SetWaitingVerdict(std::string text) { Verdict = std::move(text); }
  uint32_t Maximum() const { return ProgressMaximum; }
  uint32_t Position() const { return ProgressPosition; }
  // The whole run's progress; any thread.
  RunProgressMonitor &RunProgressState() { return RunProgressValues; }

private:
  const ChannelRow &ChannelRowRef;
  const std::string PortName;
  SpeedButtons Speed;
  GuiCallQueue &Queue;
  std::ostream &Out;
  bool Verbose;
  bool ClearLine; // live lines are drawn on the same terminal
  std::string Text;
  std::string Verdict;
  std::string Values;
  RunProgressMonitor RunProgressValues;
  std::atomic<uint32_t> ProgressMaximum{0};
  std::atomic<uint32_t> ProgressPosition{0};
  std::atomic<RunPhase> Phase{RunPhase::Idle};
  JsonEvents *Json = nullptr;
  RepeatPlan Repeat;
  std::function<void(const RunReport &)> RecordKeeper;
};

} // namespace kestrune
