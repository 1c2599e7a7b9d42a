/* The microsecond timer. Times are 32-bit counts that wrap; compare them
   only through differences. */
#ifndef RAMPROGRAM_CLOCK_H
#define RAMPROGRAM_CLOCK_H

#include <stdint.h>

uint32_t ClockNow(void);
/* Sleeps until the timer reaches the given time. */
void ClockSleepUntil(uint32_t when);

#endif
