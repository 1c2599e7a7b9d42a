#include "ramprogram/Clock.h"

#include "ramprogram/Board.h"

uint32_t ClockNow(void) { return REG32(RH_TIMER_NOW); }

void ClockSleepUntil(uint32_t when) {
  REG32(RH_TIMER_ALARM) = when;
  while ((int32_t)(ClockNow() - when) < 0)
    REG32(RH_SYS_WAIT) = RH_WAKE_TIMER;
}
