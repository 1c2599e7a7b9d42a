/* Register access for the RAM program: the reference handset's memory map
   and a volatile accessor for its 32-bit device registers and its 16-bit
   flash bus. */
#ifndef RAMPROGRAM_BOARD_H
#define RAMPROGRAM_BOARD_H

#include <stdint.h>

#include "handset/arm/ReferenceHandset.h"

#define REG32(address) (*(volatile uint32_t *)(address))
#define FLASH16(address) (*(volatile uint16_t *)(RH_FLASH_BASE + (address)))

#define ACK_BYTE 0x21u
#define NAK_BYTE 0x15u

#endif
