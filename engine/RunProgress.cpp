#include "engine/RunProgress.h"

#include <algorithm>
#include <cstdio>

namespace kestrune {
namespace {

// Shares of the whole run's bar: the RAM program fills the first few
// percent, the image the rest but the last percent, which waits for the
// verdict. A finished run that passed is full.
constexpr double RamProgramShare = 0.05;
constexpr double ImageShare = 0.94;

} // namespace

const char *RunPhaseName(RunPhase phase) {
  switch (phase) {
  case RunPhase::Idle:
    return "idle";
  case RunPhase::Starting:
    return "starting";
  case RunPhase::WaitingForPowerOn:
    return "waiting for power-on";
  case RunPhase::LoadingRamProgram:
    return "loading RAM program";
  case RunPhase::Erasing:
    return "erasing";
  case RunPhase::Programming:
    return "programming";
  case RunPhase::Verdict:
    return "verdict";
  case RunPhase::Finished:
    return "finished";
  case RunPhase::WaitingForNextUnit:
    return "waiting for the next unit";
  }
  return "idle";
}

void RunProgress::Begin(Clock::time_point now) {
  *this = RunProgress{};
  Begun = true;
  Started = now;
  Phase = RunPhase::Starting;
  Samples.push_back({now, 0});
}

void RunProgress::SetPhase(RunPhase phase, Clock::time_point now) {
  if (!Begun)
    Begin(now);
  if (Phase == RunPhase::Finished || phase == Phase)
    return;
  // The bytes counted are the new phase's own, but for erasing and
  // programming, which share the image's.
  bool sharesImage = (phase == RunPhase::Erasing || phase == RunPhase::Programming ||
                      phase == RunPhase::Verdict) &&
                     (Phase == RunPhase::Erasing || Phase == RunPhase::Programming);
  if (!sharesImage) {
    Sent = 0;
    Total = 0;
  }
  if (Phase == RunPhase::Programming)
    ProgrammingBefore += now - ProgrammingSince;
  if (phase == RunPhase::Programming)
    ProgrammingSince = now;
  Phase = phase;
  if (phase == RunPhase::Verdict && ImageTotal > 0) {
    Sent = ImageTotal;
    Total = ImageTotal;
  }
  Highest = std::max(Highest, PhaseFraction());
}

void RunProgress::SetBytes(uint64_t sent, uint64_t total, Clock::time_point now) {
  if (!Begun)
    Begin(now);
  if (Phase == RunPhase::Finished)
    return;
  // A re-sent block counts on the line, not again towards the total.
  const uint64_t added = sent >= Sent ? sent - Sent : 0;
  LineBytes += added;
  if (Phase == RunPhase::Programming)
    ProgrammingBytes += added;
  Sent = std::min(sent, total);
  Total = total;
  if (Phase == RunPhase::Programming || Phase == RunPhase::Erasing)
    ImageTotal = total;
  Samples.push_back({now, LineBytes});
  // Keep one sample from before the window as the base of the rate.
  while (Samples.size() > 2 && Samples[1].At <= now - RateWindow)
    Samples.pop_front();
  Highest = std::max(Highest, PhaseFraction());
}

void RunProgress::Finish(RunOutcome outcome, Clock::time_point now) {
  if (!Begun)
    Begin(now);
  Phase = RunPhase::Finished;
  Outcome = outcome;
  Ended = now;
  if (outcome == RunOutcome::Passed) {
    Highest = 1.0;
    if (ImageTotal > 0) {
      Sent = ImageTotal;
      Total = ImageTotal;
    }
  }
}

double RunProgress::PhaseFraction() const {
  double part = Total > 0 ? double(Sent) / double(Total) : 0.0;
  switch (Phase) {
  case RunPhase::Idle:
  case RunPhase::Starting:
  case RunPhase::WaitingForPowerOn:
  case RunPhase::WaitingForNextUnit:
    return 0.0;
  case RunPhase::LoadingRamProgram:
    return RamProgramShare * part;
  case RunPhase::Erasing:
  case RunPhase::Programming:
    return RamProgramShare + ImageShare * part;
  case RunPhase::Verdict:
    return RamProgramShare + ImageShare;
  case RunPhase::Finished:
    return Highest;
  }
  return 0.0;
}

double RunProgress::ProgrammingRateAt(Clock::time_point now) const {
  const double seconds =
      std::chrono::duration<double>(ProgrammingBefore + (now - ProgrammingSince)).count();
  if (seconds <= 0)
    return 0.0;
  return double(ProgrammingBytes) / 1024.0 / seconds;
}

double RunProgress::RateAt(Clock::time_point now) const {
  if (Samples.empty() || Phase == RunPhase::Finished)
    return 0.0;
  if (Phase == RunPhase::Programming)
    return ProgrammingRateAt(now);
  const Clock::time_point windowStart = now - RateWindow;
  // The bytes counted at the window's start, assuming an even flow between
  // the two samples around it; the first sample when the run is younger.
  Sample base = Samples.front();
  size_t before = 0;
  while (before + 1 < Samples.size() && Samples[before + 1].At <= windowStart)
    ++before;
  if (Samples[before].At <= windowStart) {
    if (before + 1 == Samples.size())
      return 0.0; // nothing sent within the window
    const Sample &from = Samples[before];
    const Sample &to = Samples[before + 1];
    double span = std::chrono::duration<double>(to.At - from.At).count();
    double share =
        span > 0 ? std::chrono::duration<double>(windowStart - from.At).count() / span : 1.0;
    base = {windowStart,
            from.LineBytes + uint64_t(share * double(to.LineBytes - from.LineBytes))};
  }
  double seconds = std::chrono::duration<double>(now - base.At).count();
  if (seconds <= 0)
    return 0.0;
  return double(Samples.back().LineBytes - base.LineBytes) / 1024.0 / seconds;
}

ProgressSnapshot RunProgress::Snapshot(Clock::time_point now) const {
  ProgressSnapshot snapshot;
  snapshot.Phase = Phase;
  snapshot.Outcome = Outcome;
  snapshot.BytesSent = Sent;
  snapshot.BytesTotal = Total;
  snapshot.BytePercent = Total > 0 ? 100.0 * double(Sent) / double(Total) : 0.0;
  snapshot.ImageBytes = ImageTotal > 0 && Total == ImageTotal;
  snapshot.RunPercent = 100.0 * Highest;
  if (!Begun)
    return snapshot;
  snapshot.Elapsed = (Phase == RunPhase::Finished ? Ended : now) - Started;
  snapshot.KiBPerSecond = RateAt(now);
  if (Phase == RunPhase::Programming && snapshot.KiBPerSecond > 0 && Total >= Sent) {
    double seconds = double(Total - Sent) / 1024.0 / snapshot.KiBPerSecond;
    snapshot.Left = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(seconds));
  }
  return snapshot;
}

RunProgressMonitor::RunProgressMonitor(std::function<Clock::time_point()> clock)
    : ClockFn(std::move(clock)) {}

RunProgress::Clock::time_point RunProgressMonitor::Now() const {
  return ClockFn ? ClockFn() : Clock::now();
}

void RunProgressMonitor::Begin() {
  std::lock_guard lock(Mutex);
  Progress.Begin(Now());
}

void RunProgressMonitor::SetPhase(RunPhase phase) {
  std::lock_guard lock(Mutex);
  Progress.SetPhase(phase, Now());
}

void RunProgressMonitor::SetBytes(uint64_t sent, uint64_t total) {
  std::lock_guard lock(Mutex);
  Progress.SetBytes(sent, total, Now());
}

void RunProgressMonitor::Finish(RunOutcome outcome) {
  std::lock_guard lock(Mutex);
  Progress.Finish(outcome, Now());
}

ProgressSnapshot RunProgressMonitor::Snapshot() const {
  std::lock_guard lock(Mutex);
  return Progress.Snapshot(Now());
}

std::string FormatDuration(std::chrono::steady_clock::duration duration) {
  long long total = std::chrono::duration_cast<std::chrono::seconds>(duration).count();
  if (total < 0)
    total = 0;
  char text[32];
  if (total >= 3600)
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                  total % 60);
  else
    std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
  return text;
}

std::string FormatBytes(uint64_t bytes) {
  char text[32];
  if (bytes >= 10 * 1024 * 1024)
    std::snprintf(text, sizeof text, "%.1f MiB", double(bytes) / (1024.0 * 1024.0));
  else if (bytes >= 1024)
    std::snprintf(text, sizeof text, "%llu KiB", (unsigned long long)(bytes / 1024));
  else
    std::snprintf(text, sizeof text, "%llu B", (unsigned long long)bytes);
  return text;
}

} // namespace kestrune
