#include "handset/NorFlash.h"

#include "engine/RamProgram.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace kestrune::handset {
namespace {

constexpr uint16_t CmdReadArray = 0xFF;
constexpr uint16_t CmdReadId = 0x90;
constexpr uint16_t CmdReadStatus = 0x70;
constexpr uint16_t CmdClearStatus = 0x50;
constexpr uint16_t CmdEraseSetup = 0x20;
constexpr uint16_t CmdEraseConfirm = 0xD0;
constexpr uint16_t CmdProgramSetup = 0x40;
constexpr uint16_t CmdProgramSetupAlt = 0x10;
constexpr uint32_t SmallSegment = 0x8000;

} // namespace

NorFlash::NorFlash(FlashTiming timing) : Timing(timing) {
  void *p = ::mmap(nullptr, Size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED)
    throw std::bad_alloc();
  Cells = static_cast<uint8_t *>(p);
}

NorFlash::~NorFlash() { ::munmap(Cells, Size); }

int NorFlash::SegmentIndex(uint32_t address) {
  if (address >= Size)
    return -1;
  if (address < 4 * SmallSegment)
    return int(address / SmallSegment);
  return int(address / 0x20000) + 3;
}

uint32_t NorFlash::SegmentStart(int index) { return SegmentMap[size_t(index)]; }

uint32_t NorFlash::SegmentSize(int index) { return index < 4 ? SmallSegment : 0x20000; }

void NorFlash::FailPrograms(uint32_t fromAddress, uint32_t count) {
  FailFrom = fromAddress;
  FailsLeft = count;
}

void NorFlash::Write16(uint32_t address, uint16_t value) {
  if (address >= Size)
    return;
  switch (CurrentMode) {
  case Mode::EraseSetup:
    if (value == CmdEraseConfirm) {
      Erase(address);
    } else {
      // A broken sequence: both error bits, as the parts report it.
      Status |= StatusEraseError | StatusProgramError;
    }
    CurrentMode = Mode::ReadStatus;
    return;
  case Mode::ProgramSetup:
    Program(address, value);
    CurrentMode = Mode::ReadStatus;
    return;
  default:
    break;
  }
  switch (value & 0xFF) {
  case CmdReadArray: CurrentMode = Mode::ReadArray; break;
  case CmdReadId: CurrentMode = Mode::ReadId; break;
  case CmdReadStatus: CurrentMode = Mode::ReadStatus; break;
  case CmdClearStatus: Status = StatusReady; break;
  case CmdEraseSetup: CurrentMode = Mode::EraseSetup; break;
  case CmdProgramSetup:
  case CmdProgramSetupAlt: CurrentMode = Mode::ProgramSetup; break;
  default: break; // unknown commands are ignored
  }
}

uint16_t NorFlash::Read16(uint32_t address) const {
  if (address >= Size)
    return 0xFFFF;
  switch (CurrentMode) {
  case Mode::ReadId:
    if ((address & 0x3) == 0)
      return ManufacturerId;
    if ((address & 0x3) == 2)
      return Device;
    return 0;
  case Mode::ReadStatus:
  case Mode::EraseSetup:
  case Mode::ProgramSetup: return Status;
  case Mode::ReadArray: break;
  }
  uint32_t even = address & ~1u;
  return uint16_t(Peek(even) | Peek(even + 1) << 8);
}

void NorFlash::Erase(uint32_t address) {
  int index = SegmentIndex(address);
  LastOperationUs = index < 4 ? Timing.SmallEraseUs : Timing.LargeEraseUs;
  if (index == FailingSegment) {
    Status |= StatusEraseError;
    return;
  }
  // Dropping the pages of an anonymous mapping makes them read as zero,
  // which is the erased state in the inverted store.
  ::madvise(Cells + SegmentStart(index), SegmentSize(index), MADV_DONTNEED);
}

void NorFlash::EraseAll() {
  ::madvise(Cells, Size, MADV_DONTNEED);
  CurrentMode = Mode::ReadArray;
  Status = StatusReady;
}

void NorFlash::Program(uint32_t address, uint16_t value) {
  LastOperationUs = Timing.WordProgramUs;
  if (FailsLeft > 0 && address >= FailFrom) {
    --FailsLeft;
    Status |= StatusProgramError;
    return;
  }
  uint32_t even = address & ~1u;
  // Programming clears bits only: in the inverted store it sets them.
  Cells[even] |= uint8_t(~value);
  Cells[even + 1] |= uint8_t(~(value >> 8));
}

uint8_t NorFlash::Peek(uint32_t address) const {
  return address < Size ? uint8_t(~Cells[address]) : 0xFF;
}

void NorFlash::CopyOut(uint32_t address, uint8_t *destination, uint32_t length) const {
  uint32_t inside = address < Size ? std::min(length, Size - address) : 0;
  for (uint32_t i = 0; i < inside; ++i)
    destination[i] = uint8_t(~Cells[address + i]);
  std::memset(destination + inside, 0xFF, length - inside);
}

std::vector<uint8_t> NorFlash::Contents() const {
  std::vector<uint8_t> bytes(Size);
  CopyOut(0, bytes.data(), Size);
  return bytes;
}

} // namespace kestrune::handset
