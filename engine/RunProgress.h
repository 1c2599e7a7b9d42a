// How far one channel's run has come, over the whole run: its phase, the
// bytes sent of the phase's total, the line throughput, the time it has
// taken and, while programming, the time it still needs. Plain values and
// arithmetic; every call takes the current time, so that tests can drive it
// with a clock of their own. RunProgressMonitor is the thread-safe holder
// that a worker writes and a front end reads.
#pragma once

#include "engine/RunReport.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>

namespace kestrune {

// The stages an operator sees a run pass through, in order.
enum class RunPhase : uint8_t {
  Idle,              // no run yet
  Starting,          // the port is being opened
  WaitingForPowerOn, // calling the boot ROM until the handset is switched on
  LoadingRamProgram, // the RAM program goes out, is acknowledged and set up
  Erasing,           // the handset erases its flash and reports each segment
  Programming,       // the image goes out in blocks
  Verdict,           // waiting for the handset's verdict
  Finished,          // the run has ended
  WaitingForNextUnit, // repeat mode: the last unit's verdict stands, the next is awaited
};

const char *RunPhaseName(RunPhase phase);

struct ProgressSnapshot {
  using Duration = std::chrono::steady_clock::duration;

  RunPhase Phase = RunPhase::Idle;
  std::optional<RunOutcome> Outcome; // once Finished
  uint64_t BytesSent = 0;  // of the current phase's total (RAM program or image)
  uint64_t BytesTotal = 0;
  double BytePercent = 0;  // BytesSent of BytesTotal, 0 to 100
  // The bytes counted are the image's. The RAM program's are not shown
  // beside the whole run's percent, which they would contradict (all of
  // them sent at 5%).
  bool ImageBytes = false;
  double RunPercent = 0;   // the whole run, never lower than an earlier snapshot's
  // Line throughput: while programming, over the programming so far (the
  // time spent erasing left out), so that it holds between blocks however
  // slow the line; otherwise over the last few seconds.
  double KiBPerSecond = 0;
  Duration Elapsed{};
  std::optional<Duration> Left; // while programming, once the first block is out
};

class RunProgress {
public:
  using Clock = std::chrono::steady_clock;
  // The span over which the line throughput is measured outside programming.
  static constexpr std::chrono::milliseconds RateWindow{2000};

  // A new run: everything from the last one is forgotten.
  void Begin(Clock::time_point now);
  void SetPhase(RunPhase phase, Clock::time_point now);
  // sent and total count the current phase's bytes: the RAM program's while
  // it loads, the image's while programming.
  void SetBytes(uint64_t sent, uint64_t total, Clock::time_point now);
  void Finish(RunOutcome outcome, Clock::time_point now);

  ProgressSnapshot Snapshot(Clock::time_point now) const;

private:
  double PhaseFraction() const;
  double RateAt(Clock::time_point now) const;
  double ProgrammingRateAt(Clock::time_point now) const;

  struct Sample {
    Clock::time_point At;
    uint64_t LineBytes; // every byte counted so far in the run
  };

  bool Begun = false;
  Clock::time_point Started{};
  Clock::time_point Ended{};
  RunPhase Phase = RunPhase::Idle;
  std::optional<RunOutcome> Outcome;
  uint64_t Sent = 0;
  uint64_t Total = 0;
  uint64_t LineBytes = 0;
  uint64_t ImageTotal = 0;
  double Highest = 0;
  std::deque<Sample> Samples;
  // The programming phase's own throughput: its bytes (re-sends included)
  // and the time spent in it before the current stretch.
  uint64_t ProgrammingBytes = 0;
  Clock::duration ProgrammingBefore{};
  Clock::time_point ProgrammingSince{};
};

// A RunProgress shared between a worker (writer) and a front end's thread
// (reader), under a lock. The clock is the steady clock unless given.
class RunProgressMonitor {
public:
  using Clock = RunProgress::Clock;
  explicit RunProgressMonitor(std::function<Clock::time_point()> clock = {});

  void Begin();
  void SetPhase(RunPhase phase);
  void SetBytes(uint64_t sent, uint64_t total);
  void Finish(RunOutcome outcome);
  ProgressSnapshot Snapshot() const;

private:
  Clock::time_point Now() const;

  std::function<Clock::time_point()> ClockFn;
  mutable std::mutex Mutex;
  RunProgress Progress;
};

// "1:05", "12:00:07": minutes and seconds, hours when needed.
std::string FormatDuration(std::chrono::steady_clock::duration duration);
// "512 B", "920 KiB", "13.4 MiB"; whole KiB are rounded down.
std::string FormatBytes(uint64_t bytes);

} // namespace kestrune
