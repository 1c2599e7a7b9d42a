#include "ramprogram/Serial.h"

#include "ramprogram/Board.h"
#include "ramprogram/Clock.h"

/* Speed codes of the host and the divisors of the rates they name:
   9600, 28800, 57600, 115200, 230400, 460800, 921600 baud. Any other code
   is taken as the divisor less one, which is what the codes are but for
   9600 baud's. */
static const uint8_t SpeedCodes[] = {0x60, 0x1F, 0x0F, 0x07, 0x03, 0x01, 0x00};
static const uint8_t SpeedDivisors[] = {96, 32, 16, 8, 4, 2, 1};

static void WaitForInput(void) {
  while ((REG32(RH_UART_STATUS) & RH_UART_ST_RXREADY) == 0)
    REG32(RH_SYS_WAIT) = RH_WAKE_RX;
}

uint8_t SerialGet(void) {
  WaitForInput();
  return (uint8_t)REG32(RH_UART_DATA);
}

uint32_t SerialGet16(void) {
  uint32_t high = SerialGet();
  return high << 8 | SerialGet();
}

uint32_t SerialGet32(void) {
  uint32_t high = SerialGet16();
  return high << 16 | SerialGet16();
}

void SerialSkip(uint32_t count) {
  while (count-- != 0)
    SerialGet();
}

uint32_t SerialReadSummed(uint8_t *buffer, uint32_t count, uint32_t sum) {
  while (count != 0) {
    WaitForInput();
    uint32_t ready = REG32(RH_UART_RXCOUNT);
    if (ready > count)
      ready = count;
    count -= ready;
    while (ready-- != 0) {
      uint32_t byte = REG32(RH_UART_DATA) & 0xFFu;
      *buffer++ = (uint8_t)byte;
      sum += byte;
    }
  }
  return sum & 0xFFFFu;
}

void SerialDrain(uint32_t quietMicros) {
  for (;;) {
    REG32(RH_TIMER_ALARM) = ClockNow() + quietMicros;
    REG32(RH_SYS_WAIT) = RH_WAKE_RX | RH_WAKE_TIMER;
    if ((REG32(RH_UART_STATUS) & RH_UART_ST_RXREADY) == 0)
      return;
    while (REG32(RH_UART_RXCOUNT) != 0)
      (void)REG32(RH_UART_DATA);
  }
}

void SerialPut(uint8_t byte) {
  while ((REG32(RH_UART_STATUS) & RH_UART_ST_TXREADY) == 0) {
  }
  REG32(RH_UART_DATA) = byte;
}

void SerialPut32(uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8)
    SerialPut((uint8_t)(value >> shift));
}

void SerialFlush(void) {
  while ((REG32(RH_UART_STATUS) & RH_UART_ST_TXEMPTY) == 0) {
  }
}

void SerialSetSpeedCode(uint8_t code) {
  uint32_t divisor = code + 1u;
  for (uint32_t i = 0; i < sizeof SpeedCodes; ++i)
    if (SpeedCodes[i] == code)
      divisor = SpeedDivisors[i];
  REG32(RH_UART_LINECTRL) = RH_UART_LC_8N2;
  REG32(RH_UART_DIVISOR) = divisor;
}
