// The RAM program's flash routines, in host code: what the loader running on
// the handset does through the flash's command set. Each routine tells how
// long the flash was busy, and keeps the error count and the first failing
// status that the verdict reports.
#pragma once

#include "handset/NorFlash.h"

#include <cstdint>

namespace kestrune::handset {

class FlashDriver {
public:
  explicit FlashDriver(NorFlash &flash) : Flash(flash) {}

  struct Result {
    bool Ok = true;
    uint8_t Status = NorFlash::StatusReady;
    uint64_t BusyUs = 0;
  };

  // Manufacturer and device code from the identifier mode.
  void ReadIdentifier(uint16_t &manufacturer, uint16_t &device);
  // Erases one segment (index into the segment map).
  Result EraseSegment(int index);
  // Programs and verifies data at a flash address; words that are all 0xFF
  // are skipped, as the erased state already holds them. Bytes outside the
  // flash count as one failed operation with status 0.
  Result Program(uint32_t address, const uint8_t *data, uint32_t length);

  // Failed operations so far (C) and the status of the first of them (S).
  uint32_t Failures() const { return FailureCount; }
  uint32_t FirstFailureStatus() const { return FirstStatus; }
  void ResetErrors();

private:
  void Fail(uint8_t status);
  bool ProgramWord(uint32_t address, uint16_t value, uint8_t &status);

  NorFlash &Flash;
  uint32_t FailureCount = 0;
  uint32_t FirstStatus = 0;
};

} // namespace kestrune::handset
