// The constant data the worker sends to the handset: the RAM program image
// that the boot ROM loads and starts, and the flash's segment map.
#pragma once

#include <array>
#include <cstdint>

namespace kestrune {

constexpr uint32_t RamProgramLength = 5888; // 0x1700
constexpr uint32_t RamProgramLoadAddress = 0x40000000;
extern const std::array<uint8_t, RamProgramLength> RamProgram;

constexpr uint32_t SegmentCount = 131;
// Four segments of 32 KiB from address 0, then 128 KiB segments up to 0xFE0000.
extern const std::array<uint32_t, SegmentCount> SegmentMap;

} // namespace kestrune
