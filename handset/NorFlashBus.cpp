#include "handset/NorFlashBus.h"

#include "handset/arm/ReferenceHandset.h"

namespace kestrune::handset {

bool NorFlashBus::NeedsClock() const {
  return Timing.LargeEraseUs != 0 || Timing.SmallEraseUs != 0 || Timing.WordProgramUs != 0;
}

void NorFlashBus::Reset() {
  Flash.Write16(0, RH_FLASH_CMD_CLEAR_STATUS);
  Flash.Write16(0, RH_FLASH_CMD_READ_ARRAY);
  Pending = Setup::None;
  Busy = false;
}

// While busy the part is in its status mode (every erase and program leaves
// it there, and no cycle reaches it meanwhile): its status, without ready.
uint32_t NorFlashBus::ReadWord(uint32_t address, arm::Clock::time_point now) {
  if (Busy && now >= ReadyTime)
    Busy = false;
  uint32_t word = Flash.Read16(address & ~1u);
  return Busy ? word & ~uint32_t(RH_FLASH_ST_READY) : word;
}

uint32_t NorFlashBus::Read(uint32_t address, unsigned size, arm::Clock::time_point now) {
  uint32_t word = ReadWord(address, now);
  if (size == 1)
    return (address & 1) ? word >> 8 : word & 0xFF;
  if (size == 4)
    return word | ReadWord(address + 2, now) << 16;
  return word;
}

void NorFlashBus::Write(uint32_t address, uint32_t value, arm::Clock::time_point now) {
  if (Busy) {
    if (now < ReadyTime)
      return;
    Busy = false;
  }
  uint16_t data = uint16_t(value);
  bool operation = Pending == Setup::Program ||
                   (Pending == Setup::Erase && data == RH_FLASH_CMD_CONFIRM);
  Flash.Write16(address, data);
  if (Pending != Setup::None)
    Pending = Setup::None; // the setup's second cycle, whatever it was
  else if ((data & 0xFF) == RH_FLASH_CMD_ERASE)
    Pending = Setup::Erase;
  else if ((data & 0xFF) == RH_FLASH_CMD_PROGRAM || (data & 0xFF) == 0x10) // 0x10: the same
    Pending = Setup::Program;
  if (operation) {
    // The part is in its status mode now: reading it changes nothing.
    uint32_t status = Flash.Read16(address) & 0xFF;
    if (status & RH_FLASH_ST_ERRORS && FailureCount++ == 0)
      FirstStatus = status;
  }
  if (operation && Flash.OperationTimeUs() != 0) {
    Busy = true;
    ReadyTime = now + std::chrono::microseconds(Flash.OperationTimeUs());
  }
}

} // namespace kestrune::handset
