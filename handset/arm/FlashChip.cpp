#include "handset/arm/FlashChip.h"

#include <algorithm>

namespace kestrune::arm {
namespace {

constexpr uint32_t SmallSegment = 0x8000;
constexpr uint32_t LargeSegment = 0x20000;
constexpr uint32_t SmallSegments = 4;

} // namespace

FlashChip::FlashChip(FlashIdentity identity, FlashTiming timing)
    : Array(Size, 0xFF), Identity(identity), Timing(timing) {}

uint32_t FlashChip::SegmentStart(uint32_t segment) {
  if (segment < SmallSegments)
    return segment * SmallSegment;
  return (segment - SmallSegments + 1) * LargeSegment;
}

uint32_t FlashChip::SegmentSize(uint32_t segment) {
  return segment < SmallSegments ? SmallSegment : LargeSegment;
}

uint32_t FlashChip::SegmentOf(uint32_t address) {
  if (address < LargeSegment)
    return address / SmallSegment;
  return address / LargeSegment + SmallSegments - 1;
}

void FlashChip::Reset() {
  CurrentMode = Mode::ReadArray;
  Status = RH_FLASH_ST_READY;
  ReadyTime = {};
}

void FlashChip::Fill(uint32_t address, std::span<const uint8_t> bytes) {
  if (address >= Size)
    return;
  size_t count = std::min<size_t>(bytes.size(), Size - address);
  std::copy_n(bytes.begin(), count, Array.begin() + address);
}

void FlashChip::EraseAll() { std::fill(Array.begin(), Array.end(), 0xFF); }

void FlashChip::FailPrograms(uint32_t fromAddress, uint32_t count, uint8_t status) {
  ProgramFailFrom = fromAddress & ~1u;
  ProgramFailsLeft = count;
  ProgramFailStatus = status;
}

void FlashChip::ClearFailures() {
  EraseFailures.clear();
  ProgramFailsLeft = 0;
}

uint32_t FlashChip::ReadIdentifier(uint32_t address) const {
  uint32_t word = (address - SegmentStart(SegmentOf(address))) / 2;
  if (word == RH_FLASH_ID_MANUFACTURER)
    return Identity.Manufacturer;
  if (word == RH_FLASH_ID_DEVICE)
    return Identity.Device;
  return 0; // segment lock status and beyond: unlocked, nothing else
}

uint32_t FlashChip::Read(uint32_t address, unsigned size, Clock::time_point now) {
  address %= Size;
  bool busy = (Status & RH_FLASH_ST_READY) == 0;
  if (busy && now >= ReadyTime) {
    Status |= RH_FLASH_ST_READY;
    busy = false;
  }
  // A busy flash answers every read with its status.
  if (busy || CurrentMode == Mode::ReadStatus || CurrentMode == Mode::EraseSetup ||
      CurrentMode == Mode::ProgramSetup)
    return Status;
  if (CurrentMode == Mode::ReadId)
    return ReadIdentifier(address & ~1u);
  uint32_t value = 0;
  for (unsigned i = 0; i < size && address + i < Size; ++i)
    value |= uint32_t(Array[address + i]) << (8 * i);
  return value;
}

void FlashChip::Write(uint32_t address, uint32_t value, Clock::time_point now) {
  address = (address % Size) & ~1u;
  if ((Status & RH_FLASH_ST_READY) == 0) {
    if (now < ReadyTime)
      return; // busy: the cycle is ignored
    Status |= RH_FLASH_ST_READY;
  }
  uint16_t data = uint16_t(value);
  if (CurrentMode == Mode::EraseSetup) {
    if (data == RH_FLASH_CMD_CONFIRM)
      Erase(address, now);
    else
      Status |= RH_FLASH_ST_ERASE_ERROR | RH_FLASH_ST_PROGRAM_ERROR; // command sequence error
    CurrentMode = Mode::ReadStatus;
    return;
  }
  if (CurrentMode == Mode::ProgramSetup) {
    Program(address, data, now);
    CurrentMode = Mode::ReadStatus;
    return;
  }
  switch (data & 0xFF) {
  case RH_FLASH_CMD_READ_ARRAY:
    CurrentMode = Mode::ReadArray;
    break;
  case RH_FLASH_CMD_READ_ID:
    CurrentMode = Mode::ReadId;
    break;
  case RH_FLASH_CMD_READ_STATUS:
    CurrentMode = Mode::ReadStatus;
    break;
  case RH_FLASH_CMD_CLEAR_STATUS:
    Status &= uint8_t(~RH_FLASH_ST_ERRORS);
    break;
  case RH_FLASH_CMD_ERASE:
    CurrentMode = Mode::EraseSetup;
    break;
  case RH_FLASH_CMD_PROGRAM:
    CurrentMode = Mode::ProgramSetup;
    break;
  default:
    break; // not a command of this part
  }
}

void FlashChip::Erase(uint32_t address, Clock::time_point now) {
  ++EraseCount;
  uint32_t segment = SegmentOf(address);
  if (EraseFailures.count(segment)) {
    Status |= RH_FLASH_ST_ERASE_ERROR;
  } else {
    auto start = Array.begin() + SegmentStart(segment);
    std::fill(start, start + SegmentSize(segment), 0xFF);
  }
  if (Timing.SegmentErase.count() != 0) {
    Status &= uint8_t(~RH_FLASH_ST_READY);
    ReadyTime = now + Timing.SegmentErase;
  }
}

void FlashChip::Program(uint32_t address, uint16_t value, Clock::time_point now) {
  ++ProgramCount;
  if (ProgramFailsLeft != 0 && address >= ProgramFailFrom) {
    --ProgramFailsLeft;
    Status |= ProgramFailStatus;
  } else {
    Array[address] &= uint8_t(value);
    Array[address + 1] &= uint8_t(value >> 8);
  }
  if (Timing.WordProgram.count() != 0) {
    Status &= uint8_t(~RH_FLASH_ST_READY);
    ReadyTime = now + Timing.WordProgram;
  }
}

} // namespace kestrune::arm
