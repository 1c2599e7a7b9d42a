#include "ramprogram/Flash.h"

#include "ramprogram/Board.h"

/* The flash is in status mode after an erase or program command: any read
   returns the status register. Sleeps while it is busy. */
static uint32_t WaitUntilReady(uint32_t address) {
  uint32_t status = FLASH16(address);
  while ((status & RH_FLASH_ST_READY) == 0) {
    REG32(RH_SYS_WAIT) = RH_WAKE_FLASH;
    status = FLASH16(address);
  }
  if (status & RH_FLASH_ST_ERRORS)
    FLASH16(address) = RH_FLASH_CMD_CLEAR_STATUS;
  return status & 0xFFu;
}

uint32_t FlashIdentify(void) {
  FLASH16(0) = RH_FLASH_CMD_READ_ID;
  uint32_t manufacturer = FLASH16(2 * RH_FLASH_ID_MANUFACTURER);
  uint32_t device = FLASH16(2 * RH_FLASH_ID_DEVICE);
  FLASH16(0) = RH_FLASH_CMD_READ_ARRAY;
  return manufacturer << 16 | device;
}

uint32_t FlashEraseSegment(uint32_t address) {
  FLASH16(address) = RH_FLASH_CMD_ERASE;
  FLASH16(address) = RH_FLASH_CMD_CONFIRM;
  return WaitUntilReady(address);
}

uint32_t FlashProgramWord(uint32_t address, uint32_t value) {
  FLASH16(address) = RH_FLASH_CMD_PROGRAM;
  FLASH16(address) = (uint16_t)value;
  return WaitUntilReady(address);
}

void FlashReadArray(void) { FLASH16(0) = RH_FLASH_CMD_READ_ARRAY; }

uint32_t FlashReadWord(uint32_t address) { return FLASH16(address); }
