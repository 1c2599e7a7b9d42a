// The command line's machine-readable output (--json): one JSON object per
// line for every event of every channel, for a factory system to consume.
// Events come from the main thread (texts, run ends) and from the workers
// (phases, progress); each line is written whole under the writer's lock.
#pragma once

#include "engine/RunProgress.h"
#include "engine/RunReport.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace kestrune {

class JsonEvents {
public:
  using Clock = std::chrono::system_clock;
  explicit JsonEvents(std::ostream &out, std::function<Clock::time_point()> clock = {});

  void RunStart(int channel, const std::string &port, uint32_t run);
  void Status(int channel, const std::string &port, const std::string &text,
              const std::string &meaning);
  void Phase(int channel, const std::string &port, RunPhase phase);
  void Progress(int channel, const std::string &port, RunPhase phase, uint64_t sent,
                uint64_t total);
  // endedWaiting: stopped while waiting for the next handset (repeat mode).
  void Outcome(int channel, uint32_t run, const RunReport &report, bool endedWaiting);
  // A unit's verdict, once per unit that came to passed or failed.
  void Verdict(int channel, const std::string &port, uint32_t unit, uint32_t run,
               RunOutcome outcome, const std::string &text,
               const std::vector<std::pair<std::string, std::string>> &serials = {});
  // The serial values claimed for the unit being flashed.
  void Serials(int channel, const std::string &port,
               const std::vector<std::pair<std::string, std::string>> &serials);
  // The channel's last event: its counts and whether it completed.
  void End(int channel, const std::string &port, uint32_t passed, uint32_t failed,
           const char *outcome);

private:
  void Write(const nlohmann::json &line);

  std::ostream &Out;
  std::function<Clock::time_point()> ClockFn;
  std::mutex Mutex;
};

} // namespace kestrune
