// A channel panel for tests: records every text, colour and progress value
// of its channel and serves the worker's window calls on the test's thread.
#pragma once

#include "engine/ChannelPanel.h"
#include "engine/ChannelRow.h"
#include "engine/CommsThread.h"
#include "engine/GuiCallQueue.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kestrune::test {

class TestPanel final : public ChannelPanel {
public:
  TestPanel(GuiCallQueue &queue, std::string port, SpeedButtons speed = ButtonsForRow(6))
      : Queue(queue), Port(std::move(port)), Speed(speed) {}

  std::string PortText() override {
    std::lock_guard lock(Mutex);
    return Port;
  }
  // The line the next run opens (another unit on another line).
  void SetPort(std::string port) {
    std::lock_guard lock(Mutex);
    Port = std::move(port);
  }
  RepeatPlan RepeatChoice() override { return Repeat; }
  SpeedButtons SpeedButtonStates() {
    std::lock_guard lock(Mutex);
    return Speed;
  }
  void SetProgressMaximum(uint32_t maximum) override {
    std::lock_guard lock(Mutex);
    ProgressMaximums.push_back(maximum);
  }
  void SetProgressPosition(uint32_t position) override {
    std::lock_guard lock(Mutex);
    ProgressPositions.push_back(position);
  }
  void RunOnGuiThread(const std::function<void()> &fn) override { Queue.RunAndWait(fn); }
  void SetStatusText(const std::string &text) override;
  void SetStatusColour(StatusColour colour) override { Colours.push_back(colour); }

  void SetSpeed(SpeedButtons speed) {
    std::lock_guard lock(Mutex);
    Speed = speed;
  }
  // Called (on the serving thread) with each text as it is shown.
  std::function<void(const std::string &)> OnText;

  // Serving-thread views.
  std::vector<std::string> Texts;
  std::vector<StatusColour> Colours;
  bool Terminated = false;
  uint32_t FinalStopCode = 0;
  uint32_t FinalFileError = 0;
  RunReport FinalReport;
  // Repeat mode: the plan handed to the worker after each run, every run's
  // report and whether it ended while waiting for the next handset, and a
  // hook run at each run's end (the plan for the next is already taken).
  RepeatPlan Repeat;
  std::vector<RunReport> Reports;
  std::vector<bool> EndedWaiting;
  std::function<void(const RunReport &)> OnRunEnd;
  std::vector<uint32_t> Maximums() {
    std::lock_guard lock(Mutex);
    return ProgressMaximums;
  }
  std::vector<uint32_t> Positions() {
    std::lock_guard lock(Mutex);
    return ProgressPositions;
  }
  std::string LastText() const { return Texts.empty() ? std::string() : Texts.back(); }
  bool Saw(const std::string &text) const;

private:
  GuiCallQueue &Queue;
  std::string Port;
  std::mutex Mutex;
  SpeedButtons Speed;
  std::vector<uint32_t> ProgressMaximums;
  std::vector<uint32_t> ProgressPositions;
};

// Runs workers on panels and serves their window calls on this thread.
class WorkerHarness {
public:
  GuiCallQueue Queue;

  TestPanel &AddPanel(std::string port, SpeedButtons speed = ButtonsForRow(6));
  // Starts channel `channel` (1 to 64) on its panel (panels are numbered in
  // the order they were added), as a front end does: its plan holds the
  // latest load's image, the panel's speed and repeat plan and the
  // station's RAM program and limits as they are now.
  TCommsThread *Start(int channel, std::unique_ptr<SerialPort> port = nullptr);
  // Starts it with a plan of the test's own.
  TCommsThread *Start(int channel, RunPlan plan, std::unique_ptr<SerialPort> port = nullptr);
  // Serves calls until the condition holds; false after the time-out.
  bool ServeUntil(const std::function<bool()> &done,
                  std::chrono::milliseconds timeout = std::chrono::seconds(20));
  // Serves until every started worker has ended; false after the time-out.
  bool ServeUntilAllEnded(std::chrono::milliseconds timeout = std::chrono::seconds(20));
  // Asks every running worker to stop, then serves until all have ended.
  ~WorkerHarness();

  TestPanel &Panel(int channel) { return *Panels.at(size_t(channel - 1)); }
  TCommsThread *Worker(int channel) { return Workers.at(size_t(channel - 1)); }

private:
  std::vector<std::unique_ptr<TestPanel>> Panels;
  std::vector<TCommsThread *> Workers;
};

} // namespace kestrune::test
