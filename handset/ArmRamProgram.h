// The RAM program the boot ROM loaded, run for real on the handset's
// emulated ARM core, as the handset's protocol core sees it: host bytes go
// in tagged with the line setting they came at, the program's answers come
// out with the rate its UART sent them at, and a watcher follows the
// exchange for the run's summary and the line faults.
//
// The core runs on threads of its own; wake is called (from them) whenever
// answers are waiting or the run has ended, so the handset's loop can come
// and take them.
#pragma once

#include "handset/ExchangeWatcher.h"
#include "handset/HandsetOptions.h"
#include "handset/LineModel.h"
#include "handset/NorFlashBus.h"
#include "handset/arm/ArmCore.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kestrune::handset {

class ArmRamProgram {
public:
  struct Answer {
    uint8_t Value;
    uint32_t Rate; // the UART's rate when the program sent it
  };

  ArmRamProgram(NorFlash &flash, const HandsetOptions &options, std::function<void()> wake);
  ~ArmRamProgram();
  ArmRamProgram(const ArmRamProgram &) = delete;
  ArmRamProgram &operator=(const ArmRamProgram &) = delete;

  // Starts the image at its address with the UART at 28800 baud, 8N2.
  std::optional<std::string> Start(const std::vector<uint8_t> &image, uint32_t address);

  // Host bytes in order; returns how many the program took. Fewer when
  // the handset falls silent at this point (--silent-after).
  size_t FromHost(const uint8_t *data, size_t length, const HostLine &host);
  // The answers so far. An answer that ends the run (the verdict, a refused
  // flash, a failed segment...) and what follows are held back until the
  // program is back in the boot ROM, so that the run is over (and its flash
  // dump written) before the host can see it and close the line.
  void TakeAnswers(std::vector<Answer> &out);

  // The watcher's silence was reached; the program is stopped unless it
  // still has its work to finish.
  bool Silent() const { return Watcher.Silent(); }
  // The core's run is over (back in the boot ROM, stopped or faulted) and
  // every answer has been taken.
  bool Ended();
  arm::CoreEnd End() const { return Core->End(); }
  uint32_t LineRate() const { return Core->Line().Rate; }
  bool AwaitingHost() const { return Core->AwaitingHost(); }
  // Ends the run (the host closed the line, a reset).
  void Stop() { Core->Stop(); }

  RunOutcome Outcome() const { return Watcher.Outcome(); }
  void Fill(RunSummary &summary) const;
  std::vector<std::string> TakeNotes() { return Watcher.TakeNotes(); }
  arm::CoreStats Stats() const { return Core->Stats(); }

private:
  std::optional<arm::UartLine> TagFor(const HostLine &host, size_t messageByte) const;

  NorFlashBus Bus;
  ExchangeWatcher Watcher;
  std::function<void()> Wake;
  std::mutex Lock; // the answers waiting
  std::vector<Answer> Waiting;
  std::vector<Answer> Held; // the handset's thread only
  std::unique_ptr<arm::ArmCore> Core;
  uint64_t HostBytes = 0;
};

} // namespace kestrune::handset
