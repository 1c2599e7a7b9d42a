// The handset's 16 MiB NOR flash at address 0, organised in the segments of
// the segment map (four of 32 KiB, then 127 of 128 KiB). It is driven as a
// x16 part through its command set: read array, read identifier, read and
// clear status, block erase with confirm, word program. Erased bytes read
// 0xFF and programming can only clear bits.
//
// The model answers every command at once; how long an operation takes is
// reported by OperationTimeUs() and scheduled by whoever drives the flash.
#pragma once

#include "handset/HandsetOptions.h"

#include <cstdint>
#include <vector>

namespace kestrune::handset {

class NorFlash {
public:
  static constexpr uint32_t Size = 16u << 20;
  static constexpr uint16_t ManufacturerId = 0x004B;
  static constexpr uint16_t DeviceId = 0x5231;      // the part the RAM program knows
  static constexpr uint16_t OtherDeviceId = 0x5299; // a part it does not know

  // Status register bits.
  static constexpr uint8_t StatusReady = 0x80;
  static constexpr uint8_t StatusEraseError = 0x20;
  static constexpr uint8_t StatusProgramError = 0x10;

  explicit NorFlash(FlashTiming timing = {});
  ~NorFlash();
  NorFlash(const NorFlash &) = delete;
  NorFlash &operator=(const NorFlash &) = delete;

  // The bus: byte addresses, 16-bit data. Writes outside the part are ignored.
  void Write16(uint32_t address, uint16_t value);
  uint16_t Read16(uint32_t address) const;

  // Duration of the latest erase or program command.
  uint32_t OperationTimeUs() const { return LastOperationUs; }

  // Segments in the order of the segment map; -1 outside the flash.
  static int SegmentIndex(uint32_t address);
  static uint32_t SegmentStart(int index);
  static uint32_t SegmentSize(int index);

  // A new part: every cell erased, read-array mode, status clear.
  void EraseAll();

  // Faults.
  void SetDeviceId(uint16_t id) { Device = id; }
  void FailErase(int segmentIndex) { FailingSegment = segmentIndex; }
  void FailPrograms(uint32_t fromAddress, uint32_t count);

  // Direct views for tests and the flash dump, not through the bus.
  uint8_t Peek(uint32_t address) const;
  void CopyOut(uint32_t address, uint8_t *destination, uint32_t length) const;
  std::vector<uint8_t> Contents() const;

private:
  enum class Mode : uint8_t { ReadArray, ReadId, ReadStatus, EraseSetup, ProgramSetup };

  void Erase(uint32_t address);
  void Program(uint32_t address, uint16_t value);

  // Stored inverted (0 means an erased 0xFF), so untouched pages of the
  // anonymous mapping cost no memory and an erase just drops pages.
  uint8_t *Cells = nullptr;
  FlashTiming Timing;
  Mode CurrentMode = Mode::ReadArray;
  uint8_t Status = StatusReady;
  uint16_t Device = DeviceId;
  uint32_t LastOperationUs = 0;
  int FailingSegment = -1;
  uint32_t FailFrom = 0;
  uint32_t FailsLeft = 0;
};

} // namespace kestrune::handset
