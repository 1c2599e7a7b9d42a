#include "engine/Watchdog.h"

#include "engine/RamProgram.h"

#include <cerrno>
#include <mutex>

namespace kestrune {
namespace {

constexpr uint32_t SmallSegmentBytes = 32 * 1024;
constexpr uint32_t LargeSegmentBytes = 128 * 1024;
constexpr uint32_t SmallSegmentEraseMs = 300;
constexpr uint32_t LargeSegmentEraseMs = 700;
// Datasheets give maximum block erase times of three to five times the
// typical ones, and worn parts drift towards them.
constexpr uint32_t EraseMargin = 4;

uint32_t SegmentEraseMs(uint32_t bytes) {
  if (bytes <= SmallSegmentBytes)
    return SmallSegmentEraseMs;
  return uint32_t(uint64_t(LargeSegmentEraseMs) * bytes / LargeSegmentBytes);
}

} // namespace

namespace {

std::mutex LimitsMutex;
RunLimits Limits;

} // namespace

uint32_t TypicalFlashEraseMs() {
  uint32_t total = 0;
  for (uint32_t i = 0; i < SegmentCount; ++i) {
    // The last segment is as large as the one before it.
    uint32_t size = i + 1 < SegmentCount ? SegmentMap[i + 1] - SegmentMap[i]
                                         : SegmentMap[i] - SegmentMap[i - 1];
    total += SegmentEraseMs(size);
  }
  return total;
}

uint32_t EraseLimitFor(uint32_t answerLimitMs) {
  if (answerLimitMs == 0)
    return 0;
  return EraseMargin * TypicalFlashEraseMs() + answerLimitMs;
}

RunLimits StationRunLimits() {
  std::lock_guard lock(LimitsMutex);
  return Limits;
}

void SetStationRunLimits(const RunLimits &limits) {
  std::lock_guard lock(LimitsMutex);
  Limits = limits;
}

void SetWatchdogSeconds(uint32_t seconds) {
  std::lock_guard lock(LimitsMutex);
  Limits.AnswerMs = seconds * 1000;
  Limits.EraseMs = EraseLimitFor(seconds * 1000);
}

uint32_t WatchdogSeconds() {
  std::lock_guard lock(LimitsMutex);
  return Limits.AnswerMs / 1000;
}

void SetResendLimit(uint32_t resends) {
  std::lock_guard lock(LimitsMutex);
  Limits.Resends = resends;
}

uint32_t TimedOutErrorCode() {
#ifdef _WIN32
  return 1460; // ERROR_TIMEOUT
#else
  return ETIMEDOUT;
#endif
}

void AnswerWatch::Arm(const RunLimits &limits) {
  AnswerMs = limits.AnswerMs;
  EraseMs = limits.EraseMs;
  // Nothing is watched until the first wait for the handset begins.
  CurrentMs = 0;
}

void AnswerWatch::Begin(std::string what, Limit limit) {
  What = std::move(what);
  CurrentMs = limit == Limit::Erase ? EraseMs : AnswerMs;
  LastHeard = Clock::now();
}

bool AnswerWatch::Expired() const {
  if (CurrentMs == 0)
    return false;
  return Clock::now() - LastHeard > std::chrono::milliseconds(CurrentMs);
}

std::string AnswerWatch::FailureText() const { return "Handset stopped answering: " + What; }

} // namespace kestrune
