#include "handset/FlashDriver.h"

namespace kestrune::handset {
namespace {

constexpr uint8_t ErrorBits = 0x3A; // erase, program, supply voltage, lock

} // namespace

void FlashDriver::ReadIdentifier(uint16_t &manufacturer, uint16_t &device) {
  Flash.Write16(0, 0x90);
  manufacturer = Flash.Read16(0);
  device = Flash.Read16(2);
  Flash.Write16(0, 0xFF);
}

void FlashDriver::ResetErrors() {
  FailureCount = 0;
  FirstStatus = 0;
}

void FlashDriver::Fail(uint8_t status) {
  if (FailureCount == 0)
    FirstStatus = status;
  ++FailureCount;
}

FlashDriver::Result FlashDriver::EraseSegment(int index) {
  Result result;
  uint32_t base = NorFlash::SegmentStart(index);
  Flash.Write16(base, 0x20);
  Flash.Write16(base, 0xD0);
  result.BusyUs = Flash.OperationTimeUs();
  result.Status = uint8_t(Flash.Read16(base));
  if (result.Status & ErrorBits) {
    result.Ok = false;
    Fail(result.Status);
    Flash.Write16(base, 0x50);
  }
  Flash.Write16(base, 0xFF);
  return result;
}

bool FlashDriver::ProgramWord(uint32_t address, uint16_t value, uint8_t &status) {
  Flash.Write16(address, 0x40);
  Flash.Write16(address, value);
  status = uint8_t(Flash.Read16(address));
  bool ok = (status & ErrorBits) == 0;
  if (!ok)
    Flash.Write16(address, 0x50);
  Flash.Write16(address, 0xFF);
  // Read back: a word whose bits did not all clear is a failure even when
  // the part reported none (the status is then plain "ready").
  return ok && Flash.Read16(address) == value;
}

FlashDriver::Result FlashDriver::Program(uint32_t address, const uint8_t *data, uint32_t length) {
  Result result;
  uint64_t end = uint64_t(address) + length;
  if (end > NorFlash::Size) {
    result.Ok = false;
    result.Status = 0;
    Fail(0);
    if (address >= NorFlash::Size)
      return result;
    length = NorFlash::Size - address;
  }
  // Words are aligned; a byte outside the data keeps the word's other half
  // as it is by programming it as 0xFF.
  uint32_t first = address & ~1u;
  uint32_t stop = (address + length + 1) & ~1u;
  for (uint32_t word = first; word < stop; word += 2) {
    uint16_t low = word >= address ? data[word - address] : 0xFF;
    uint16_t high = word + 1 < address + length ? data[word + 1 - address] : 0xFF;
    uint16_t value = uint16_t(low | high << 8);
    if (value == 0xFFFF)
      continue;
    uint8_t status = 0;
    bool ok = ProgramWord(word, value, status);
    result.BusyUs += Flash.OperationTimeUs();
    if (!ok) {
      if (result.Ok)
        result.Status = status;
      result.Ok = false;
      Fail(status);
    }
  }
  return result;
}

} // namespace kestrune::handset
