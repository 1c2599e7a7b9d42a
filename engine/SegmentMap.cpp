#include "engine/RamProgram.h"

namespace kestrune {

static constexpr std::array<uint32_t, SegmentCount> BuildSegmentMap() {
  std::array<uint32_t, SegmentCount> map{};
  for (uint32_t entry = 0; entry < SegmentCount; ++entry)
    map[entry] = entry < 4 ? entry * 0x8000 : (entry - 3) * 0x20000;
  return map;
}

const std::array<uint32_t, SegmentCount> SegmentMap = BuildSegmentMap();

} // namespace kestrune
