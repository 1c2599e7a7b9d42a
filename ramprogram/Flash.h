/* The flash's command set: identification, status, segment erase and word
   program. Operations return the status register as the flash gave it at
   the end of the operation (RH_FLASH_ST_READY plus any error bits); error
   bits are cleared again before the call returns. */
#ifndef RAMPROGRAM_FLASH_H
#define RAMPROGRAM_FLASH_H

#include <stdint.h>

/* Manufacturer code in the high half, device code in the low half. */
uint32_t FlashIdentify(void);
uint32_t FlashEraseSegment(uint32_t address);
uint32_t FlashProgramWord(uint32_t address, uint32_t value);
/* Back to reading the array, e.g. to verify what was programmed. */
void FlashReadArray(void);
uint32_t FlashReadWord(uint32_t address);

#endif
