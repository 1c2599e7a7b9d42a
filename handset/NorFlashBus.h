// The handset's NOR flash on the emulated core's bus. The flash model
// answers every command at once and tells how long the operation takes;
// here that time becomes the busy period a program sees on the real part:
// the status register reads busy, and further cycles are ignored, until it
// has passed.
#pragma once

#include "handset/NorFlash.h"
#include "handset/arm/FlashBus.h"

namespace kestrune::handset {

class NorFlashBus : public arm::FlashBus {
public:
  NorFlashBus(NorFlash &flash, const FlashTiming &timing) : Flash(flash), Timing(timing) {}

  uint32_t Read(uint32_t address, unsigned size, arm::Clock::time_point now) override;
  void Write(uint32_t address, uint32_t value, arm::Clock::time_point now) override;
  arm::Clock::time_point ReadyAt() const override { return Busy ? ReadyTime : arm::Clock::time_point{}; }
  bool NeedsClock() const override;
  void Reset() override;

  // Erases and programs that ended with an error status, as the part
  // reported them, and the status of the first (a read-back that went
  // wrong is the program's to find, not the part's).
  uint32_t Failures() const { return FailureCount; }
  uint32_t FirstFailureStatus() const { return FirstStatus; }

private:
  enum class Setup : uint8_t { None, Erase, Program };

  uint32_t ReadWord(uint32_t address, arm::Clock::time_point now);

  NorFlash &Flash;
  FlashTiming Timing;
  Setup Pending = Setup::None;
  bool Busy = false;
  arm::Clock::time_point ReadyTime{};
  uint32_t FailureCount = 0;
  uint32_t FirstStatus = 0;
};

} // namespace kestrune::handset
