// What the emulated core sees of a flash: 16-bit bus cycles at the flash's
// addresses, and when an erase or program under way will be over (the core
// sleeps until then when the program waits for the flash). The core's
// thread is the only caller while the core runs.
#pragma once

#include <chrono>
#include <cstdint>

namespace kestrune::arm {

using Clock = std::chrono::steady_clock;

class FlashBus {
public:
  virtual ~FlashBus() = default;
  // Reads of 1, 2 or 4 bytes; writes are 16-bit cycles (a wider write puts
  // its low half on the bus). now is only meaningful when NeedsClock().
  virtual uint32_t Read(uint32_t address, unsigned size, Clock::time_point now) = 0;
  virtual void Write(uint32_t address, uint32_t value, Clock::time_point now) = 0;
  // When the operation under way ends; a past time when none is.
  virtual Clock::time_point ReadyAt() const = 0;
  // False when every operation is instant: the core then spares the clock.
  virtual bool NeedsClock() const = 0;
  // The interface's power-on state (read array, status clear); the
  // contents stay.
  virtual void Reset() = 0;
};

} // namespace kestrune::arm
