// The command line's station-wide run options beside the line speed: the
// watchdog over silent handsets, the limit of re-sends of one block, and a
// RAM program read from a file instead of the built-in one.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <string>

namespace kestrune {

struct StationCliOptions {
  uint32_t WatchdogSeconds;
  uint32_t ResendLimit;
  std::string RamProgramFile; // empty: the built-in program
  StationCliOptions();
};

void AddStationOptions(CLI::App &app, StationCliOptions &options);

// Makes the options the station's. Empty on success, else the reason for
// the operator; then nothing has changed and no port may be opened.
std::string ApplyStationOptions(const StationCliOptions &options);

} // namespace kestrune
