// What tells the eight channels apart: one row per channel. Everything else
// is the same code, given its row.
#pragma once

#include <array>
#include <string>

namespace kestrune {

constexpr int ChannelCount = 8;

struct ChannelRow {
  int Number;               // 1 to 8
  const char *Suffix;       // "" for channel 1, "1" to "7" for channels 2 to 8
  const char *WorkerClass;  // TCommsThread, TCommsThread1, ...
  const char *Name;         // "" for channel 1, the channel's name otherwise
  const char *LabelName;    // object name of the channel's label
  const char *StopText;     // status text after an operator stop
  const char *IdleText;     // status text of an idle channel
};

extern const std::array<ChannelRow, ChannelCount> ChannelRows;

// Object names of the channel's controls: "PortCBox" + suffix, and so on.
std::string ControlName(const ChannelRow &row, const char *kind);

} // namespace kestrune
