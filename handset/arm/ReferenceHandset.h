/* Memory map and device registers of the reference handset: the one
   definition shared by its emulator (C++) and the RAM program that runs on
   it (C, built with the ARM cross compiler). docs/reference-handset.md
   describes every register. Plain C: no types, only constants. */
#ifndef KESTRUNE_REFERENCE_HANDSET_H
#define KESTRUNE_REFERENCE_HANDSET_H

/* NOR flash: 16 MiB at address 0, 16-bit bus, command-set interface. */
#define RH_FLASH_BASE 0x00000000u
#define RH_FLASH_SIZE 0x01000000u

/* Internal RAM: 256 KiB; the boot ROM loads the RAM program at its start. */
#define RH_RAM_BASE 0x40000000u
#define RH_RAM_SIZE 0x00040000u

/* The boot ROM. A jump to its entry gives the handset back to it. */
#define RH_BOOT_ROM_BASE 0xFFFF0000u
#define RH_BOOT_ROM_ENTRY 0xFFFF0000u

/* Peripherals: one 4 KiB page each. All registers are 32 bits wide. */
#define RH_PERIPH_BASE 0x80000000u
#define RH_PERIPH_SIZE 0x00003000u

/* UART. Its clock is 14.7456 MHz: line rate = 921600 / divisor. */
#define RH_UART_BASE 0x80000000u
#define RH_UART_DATA (RH_UART_BASE + 0x00u)     /* read: next received byte; write: send */
#define RH_UART_STATUS (RH_UART_BASE + 0x04u)   /* RH_UART_ST_* bits */
#define RH_UART_RXCOUNT (RH_UART_BASE + 0x08u)  /* bytes waiting in the receive FIFO */
#define RH_UART_DIVISOR (RH_UART_BASE + 0x0Cu)  /* 1..65535 */
#define RH_UART_LINECTRL (RH_UART_BASE + 0x10u) /* RH_UART_LC_* fields */
#define RH_UART_CLOCK_RATE 921600u              /* line rate at divisor 1 */
#define RH_UART_RX_FIFO 65536u                  /* receive FIFO depth in bytes */

#define RH_UART_ST_RXREADY 0x01u /* at least one byte received */
#define RH_UART_ST_TXREADY 0x02u /* the transmitter takes a byte */
#define RH_UART_ST_TXEMPTY 0x04u /* every byte written has left */
#define RH_UART_ST_OVERRUN 0x08u /* a byte was lost on a full FIFO; cleared by reading */
#define RH_UART_ST_FRAMING 0x10u /* a byte came at another rate or framing; cleared by reading */

#define RH_UART_LC_BITS_MASK 0x03u /* data bits - 5 */
#define RH_UART_LC_TWO_STOP 0x04u
#define RH_UART_LC_PARITY_SHIFT 3u /* 0 none, 1 odd, 2 even */
#define RH_UART_LC_PARITY_MASK 0x18u
#define RH_UART_LC_8N2 (0x03u | RH_UART_LC_TWO_STOP)

/* Microsecond timer: free-running 32-bit count since the core started. */
#define RH_TIMER_BASE 0x80001000u
#define RH_TIMER_NOW (RH_TIMER_BASE + 0x00u)
#define RH_TIMER_ALARM (RH_TIMER_BASE + 0x04u) /* the timer wake event fires from here on */

/* System controller. A write to RH_SYS_WAIT puts the core to sleep until
   one of the events in the written mask is present (at once if one is). */
#define RH_SYS_BASE 0x80002000u
#define RH_SYS_WAIT (RH_SYS_BASE + 0x00u)
#define RH_WAKE_RX 0x01u    /* the UART holds a received byte */
#define RH_WAKE_TIMER 0x02u /* the timer has reached RH_TIMER_ALARM */
#define RH_WAKE_FLASH 0x04u /* the flash is ready (no erase or program under way) */

/* Flash commands, written as 16-bit values to any flash address (erase and
   program to an address inside the segment or word concerned). */
#define RH_FLASH_CMD_READ_ARRAY 0x00FFu
#define RH_FLASH_CMD_READ_ID 0x0090u
#define RH_FLASH_CMD_READ_STATUS 0x0070u
#define RH_FLASH_CMD_CLEAR_STATUS 0x0050u
#define RH_FLASH_CMD_ERASE 0x0020u
#define RH_FLASH_CMD_CONFIRM 0x00D0u
#define RH_FLASH_CMD_PROGRAM 0x0040u

/* Flash status register. */
#define RH_FLASH_ST_READY 0x80u
#define RH_FLASH_ST_ERASE_ERROR 0x20u
#define RH_FLASH_ST_PROGRAM_ERROR 0x10u
#define RH_FLASH_ST_SUPPLY_ERROR 0x08u
#define RH_FLASH_ST_LOCK_ERROR 0x02u
#define RH_FLASH_ST_ERRORS                                                                    \
  (RH_FLASH_ST_ERASE_ERROR | RH_FLASH_ST_PROGRAM_ERROR | RH_FLASH_ST_SUPPLY_ERROR |          \
   RH_FLASH_ST_LOCK_ERROR)

/* Identifier mode: word offsets from a segment's start. */
#define RH_FLASH_ID_MANUFACTURER 0u
#define RH_FLASH_ID_DEVICE 1u

/* The reference handset's flash part, and the variant it does not support. */
#define RH_FLASH_MANUFACTURER 0x004Bu
#define RH_FLASH_DEVICE 0x5231u
#define RH_FLASH_DEVICE_UNSUPPORTED 0x5299u

#endif
