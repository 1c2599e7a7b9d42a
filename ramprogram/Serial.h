/* The UART as the RAM program uses it: blocking byte and block reads that
   sleep until data arrive, sends, and the switch of line rate. */
#ifndef RAMPROGRAM_SERIAL_H
#define RAMPROGRAM_SERIAL_H

#include <stdint.h>

uint8_t SerialGet(void);
uint32_t SerialGet16(void); /* big-endian */
uint32_t SerialGet32(void); /* big-endian */
void SerialSkip(uint32_t count);
/* Reads count bytes into buffer and returns sum + the bytes, modulo 65536. */
uint32_t SerialReadSummed(uint8_t *buffer, uint32_t count, uint32_t sum);
/* Discards input until the line has been quiet for the given time. */
void SerialDrain(uint32_t quietMicros);

void SerialPut(uint8_t byte);
void SerialPut32(uint32_t value); /* big-endian */
/* Returns once every byte written has left the transmitter. */
void SerialFlush(void);

/* Switches to the rate that a speed code names. The framing stays 8 data
   bits, no parity, 2 stop bits. */
void SerialSetSpeedCode(uint8_t code);

#endif
