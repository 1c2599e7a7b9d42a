/* The flash parts this RAM program supports, with their segment layout. */
#ifndef RAMPROGRAM_FLASHPARTS_H
#define RAMPROGRAM_FLASHPARTS_H

#include <stdint.h>

struct FlashRegion {
  uint16_t Count;    /* segments in the region */
  uint16_t SizeKiB;  /* size of each */
};

struct FlashPart {
  uint32_t Id; /* manufacturer << 16 | device */
  uint32_t Size;
  struct FlashRegion Regions[2];
};

/* The part the program is built for. */
const struct FlashPart *FlashDefaultPart(void);
/* The part with that identifier, or 0 when it is not supported. */
const struct FlashPart *FlashFindPart(uint32_t id);
uint32_t FlashPartSegmentCount(const struct FlashPart *part);
/* Start address of segment index (counted from 0) of the part. */
uint32_t FlashPartSegmentAddress(const struct FlashPart *part, uint32_t index);

#endif
