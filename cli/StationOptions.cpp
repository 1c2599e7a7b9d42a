#include "cli/StationOptions.h"

#include "engine/RamProgramSource.h"
#include "engine/Watchdog.h"

namespace kestrune {

StationCliOptions::StationCliOptions()
    : WatchdogSeconds(DefaultWatchdogSeconds), ResendLimit(DefaultResendLimit) {}

void AddStationOptions(CLI::App &app, StationCliOptions &options) {
  app.add_option("--watchdog", options.WatchdogSeconds,
                 "Fail a channel whose handset stays silent this many seconds after the boot "
                 "ROM answered (erase waits get a longer limit; 0 = wait until stopped; "
                 "default " + std::to_string(DefaultWatchdogSeconds) + ")")
      ->check(CLI::Range(uint32_t(0), MaxWatchdogSeconds));
  app.add_option("--resend-limit", options.ResendLimit,
                 "Fail a channel whose handset refuses one block this many times in a row "
                 "(0 = no limit; default " + std::to_string(DefaultResendLimit) + ")")
      ->check(CLI::Range(uint32_t(0), MaxResendLimit));
  app.add_option("--ram-program", options.RamProgramFile,
                 "Send this RAM program (exactly " + std::to_string(RamProgramLength) +
                     " bytes) instead of the built-in one");
}

std::string ApplyStationOptions(const StationCliOptions &options) {
  if (!options.RamProgramFile.empty()) {
    RamProgramFile file = ReadRamProgramFile(options.RamProgramFile);
    if (!file.Program)
      return file.Error;
    UseRamProgram(std::move(file.Program));
  }
  SetWatchdogSeconds(options.WatchdogSeconds);
  SetResendLimit(options.ResendLimit);
  return {};
}

} // namespace kestrune
