// How long a channel waits for a handset that has stopped answering, and how
// often it sends one refused block again. The station's settings are taken
// whole into each run's plan when the run starts; the worker reads only its
// plan.
//
// The watchdog covers every wait after the boot ROM's answer. Most answers
// come within milliseconds; the waits that follow a whole-flash erase (the
// erase report, the verdict after a one- or two-block image) get a longer
// limit derived from the flash's size and typical NOR erase times.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace kestrune {

constexpr uint32_t DefaultWatchdogSeconds = 15;
constexpr uint32_t DefaultResendLimit = 16;
// The most the operator may ask for; beyond it a limit is no longer one.
constexpr uint32_t MaxWatchdogSeconds = 3600;
constexpr uint32_t MaxResendLimit = 100000;

// The whole flash of the segment map erased segment by segment at typical
// NOR times (0.3 s per 32 KiB segment, 0.7 s per 128 KiB segment).
uint32_t TypicalFlashEraseMs();
// The limit of the waits that follow a whole-flash erase, for a given
// answer limit: four times the typical erase plus the answer limit (0 when
// the watchdog is off).
uint32_t EraseLimitFor(uint32_t answerLimitMs);
// One run's limits. 0 turns a limit off: the worker then waits until
// stopped.
struct RunLimits {
  uint32_t AnswerMs = DefaultWatchdogSeconds * 1000;
  uint32_t EraseMs = EraseLimitFor(DefaultWatchdogSeconds * 1000);
  uint32_t Resends = DefaultResendLimit; // consecutive re-sends of one block; 0: no limit
};

// The station's settings, as the window's and the command line's options
// set them; read as one value, so a run never takes half of a change.
RunLimits StationRunLimits();
void SetStationRunLimits(const RunLimits &limits);
// Sets both wait limits from the operator's seconds (0 = off).
void SetWatchdogSeconds(uint32_t seconds);
uint32_t WatchdogSeconds();
void SetResendLimit(uint32_t resends);

// The platform's code for a wait that timed out (ETIMEDOUT, ERROR_TIMEOUT).
uint32_t TimedOutErrorCode();

// One run's watch over its handset's answers.
class AnswerWatch {
public:
  enum class Limit { Answer, Erase };
  using Clock = std::chrono::steady_clock;

  // Takes the limits of the run about to begin.
  void Arm(const RunLimits &limits);
  // A wait for the handset begins; what names it in the failure text.
  void Begin(std::string what, Limit limit = Limit::Answer);
  // Any byte from the handset counts as an answer.
  void Heard() { LastHeard = Clock::now(); }
  // True once the handset has been silent for longer than the wait's limit.
  bool Expired() const;
  // "Handset stopped answering: <what>".
  std::string FailureText() const;

private:
  uint32_t AnswerMs = 0;
  uint32_t EraseMs = 0;
  uint32_t CurrentMs = 0;
  std::string What;
  Clock::time_point LastHeard;
};

} // namespace kestrune
