#include "ramprogram/FlashParts.h"

#include "ramprogram/Board.h"

static const struct FlashPart Parts[] = {
    {RH_FLASH_MANUFACTURER << 16 | RH_FLASH_DEVICE, RH_FLASH_SIZE, {{4, 32}, {127, 128}}},
};

const struct FlashPart *FlashDefaultPart(void) { return &Parts[0]; }

const struct FlashPart *FlashFindPart(uint32_t id) {
  for (uint32_t i = 0; i < sizeof Parts / sizeof Parts[0]; ++i)
    if (Parts[i].Id == id)
      return &Parts[i];
  return 0;
}

uint32_t FlashPartSegmentCount(const struct FlashPart *part) {
  return (uint32_t)part->Regions[0].Count + part->Regions[1].Count;
}

uint32_t FlashPartSegmentAddress(const struct FlashPart *part, uint32_t index) {
  uint32_t address = 0;
  for (uint32_t r = 0; r < 2; ++r) {
    const struct FlashRegion *region = &part->Regions[r];
    uint32_t here = index < region->Count ? index : region->Count;
    address += here * ((uint32_t)region->SizeKiB << 10);
    index -= here;
  }
  return address;
}
