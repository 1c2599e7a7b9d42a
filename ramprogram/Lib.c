/* The two library functions the compiler may call on its own. Built with
   loop pattern recognition off, so that these loops stay loops. */
#include <stddef.h>
#include <stdint.h>

void *memset(void *target, int value, size_t count) {
  uint8_t *p = target;
  while (count-- != 0)
    *p++ = (uint8_t)value;
  return target;
}

void *memcpy(void *target, const void *source, size_t count) {
  uint8_t *to = target;
  const uint8_t *from = source;
  while (count-- != 0)
    *to++ = *from++;
  return target;
}
