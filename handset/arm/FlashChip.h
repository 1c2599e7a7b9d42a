// The reference handset's NOR flash behind its command-set interface:
// 16 MiB on a 16-bit bus, four segments of 32 KiB then 127 of 128 KiB,
// erased to 0xFF, programming only clears bits. Erase and program take the
// configured times (the status register shows busy until then), and single
// segments or words can be made to fail.
//
// The bus side (Read, Write, ReadyAt) is used by the emulated core's thread
// while it runs; everything else only while no core runs.
#pragma once

#include "handset/arm/FlashBus.h"
#include "handset/arm/ReferenceHandset.h"

#include <chrono>
#include <cstdint>
#include <set>
#include <span>
#include <vector>

namespace kestrune::arm {

struct FlashIdentity {
  uint16_t Manufacturer = RH_FLASH_MANUFACTURER;
  uint16_t Device = RH_FLASH_DEVICE;
};

struct FlashTiming {
  std::chrono::microseconds SegmentErase{0};
  std::chrono::microseconds WordProgram{0};
};

class FlashChip : public FlashBus {
public:
  static constexpr uint32_t Size = RH_FLASH_SIZE;
  static constexpr uint32_t SegmentCount = 131;

  explicit FlashChip(FlashIdentity identity = {}, FlashTiming timing = {});

  // The bus (FlashBus).
  uint32_t Read(uint32_t address, unsigned size, Clock::time_point now) override;
  void Write(uint32_t address, uint32_t value, Clock::time_point now) override;
  Clock::time_point ReadyAt() const override { return ReadyTime; }
  bool NeedsClock() const override {
    return Timing.SegmentErase.count() != 0 || Timing.WordProgram.count() != 0;
  }
  void Reset() override;

  std::span<const uint8_t> Contents() const { return Array; }
  // Writes bytes straight into the array (a handset that left the factory
  // with something in its flash).
  void Fill(uint32_t address, std::span<const uint8_t> bytes);
  void EraseAll();

  // Every erase of that segment (0..130) fails with the erase error bit
  // and leaves the segment as it was.
  void FailErase(uint32_t segment) { EraseFailures.insert(segment); }
  // The next count word programs at or above the address fail: the word
  // stays as it was and the status register gains the given bits (none: a
  // silent failure that only a read-back finds).
  void FailPrograms(uint32_t fromAddress, uint32_t count,
                    uint8_t status = RH_FLASH_ST_PROGRAM_ERROR);
  void ClearFailures();

  static uint32_t SegmentStart(uint32_t segment);
  static uint32_t SegmentSize(uint32_t segment);
  static uint32_t SegmentOf(uint32_t address);

  void SetTiming(FlashTiming timing) { Timing = timing; }
  void SetIdentity(FlashIdentity identity) { Identity = identity; }
  const FlashIdentity &Ident() const { return Identity; }

  uint64_t Erases() const { return EraseCount; }
  uint64_t Programs() const { return ProgramCount; }

private:
  enum class Mode { ReadArray, ReadId, ReadStatus, EraseSetup, ProgramSetup };

  uint32_t ReadIdentifier(uint32_t address) const;
  void Erase(uint32_t address, Clock::time_point now);
  void Program(uint32_t address, uint16_t value, Clock::time_point now);

  std::vector<uint8_t> Array;
  FlashIdentity Identity;
  FlashTiming Timing;
  Mode CurrentMode = Mode::ReadArray;
  uint8_t Status = RH_FLASH_ST_READY;
  Clock::time_point ReadyTime{};
  std::set<uint32_t> EraseFailures;
  uint32_t ProgramFailFrom = 0;
  uint32_t ProgramFailsLeft = 0;
  uint8_t ProgramFailStatus = 0;
  uint64_t EraseCount = 0;
  uint64_t ProgramCount = 0;
};

} // namespace kestrune::arm
