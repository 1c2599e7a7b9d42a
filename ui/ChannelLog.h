// What one channel said: every status text with the time it was shown, to
// the millisecond. The log keeps its newest lines only (a few thousand), so
// that a long shift neither grows the memory nor slows the window; adding a
// line costs the same however full the log is.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace kestrune {

class ChannelLog {
public:
  using Clock = std::chrono::system_clock;
  static constexpr size_t DefaultCapacity = 5000;

  ChannelLog() = default;
  explicit ChannelLog(size_t capacity) : Capacity(capacity) {}

  void Append(const std::string &text, Clock::time_point at = Clock::now());
  size_t Size() const { return Lines.size(); }
  // Counts every line ever added, dropped ones included: a viewer that has
  // shown up to a count asks only for the lines after it.
  uint64_t Added() const { return AddedCount; }
  // The kept lines added after the first `after` lines, as text.
  std::vector<std::string> LinesAfter(uint64_t after) const;

  // "2026-12-08 05:01:02.123  text" in local time.
  static std::string FormatLine(Clock::time_point at, const std::string &text);

private:
  struct Line {
    Clock::time_point At;
    std::string Text;
  };
  size_t Capacity = DefaultCapacity;
  std::deque<Line> Lines;
  uint64_t AddedCount = 0;
};

} // namespace kestrune
