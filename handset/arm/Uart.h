// The reference handset's UART as the emulated core sees it through its
// registers, bridged to a byte stream on the host side. Bytes from the host
// arrive tagged with the rate and framing they were sent with; the UART
// compares that with its own setting when the program reads the byte, so a
// program that is not at the host's rate reads garbage, whatever the timing
// of the two threads. Bytes to the host go to a sink, tagged with the
// UART's setting at the time.
#pragma once

#include "handset/arm/ReferenceHandset.h"
#include "handset/arm/UartLine.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

namespace kestrune::arm {

class Uart {
public:
  // Called on the core's thread for every byte the program sends. It may
  // block (a line paced at its rate); the program then waits.
  using Sink = std::function<void(uint8_t byte, const UartLine &line)>;

  // lock and wake belong to the core: the UART guards its receive FIFO
  // with them and wakes a sleeping core when bytes arrive.
  Uart(Sink sink, std::mutex &lock, std::condition_variable &wake);

  // Host side, any thread, never blocks. Beyond the FIFO's depth bytes are
  // lost and the overrun bit is set, as on a real line.
  // Without sentWith the bytes pass whatever the UART is set to.
  void Receive(std::span<const uint8_t> bytes, const std::optional<UartLine> &sentWith);
  UartLine Line() const;

  // Core side: the register window at RH_UART_BASE.
  uint32_t ReadRegister(uint32_t offset);
  void WriteRegister(uint32_t offset, uint32_t value);
  // Caller holds the core's lock.
  bool HasInputLocked() const { return Count != 0; }

  // The setting the boot ROM leaves the UART in before it starts a program.
  void Configure(const UartLine &line);
  // Called on the core's thread when the program changes the setting.
  void OnLineChange(std::function<void(const UartLine &)> changed) { LineChanged = std::move(changed); }

  uint64_t BytesIn() const { return Received; }
  uint64_t BytesOut() const { return Sent; }

private:
  struct TagRun {
    std::optional<UartLine> Line;
    uint32_t Count;
  };

  uint32_t PopByte();
  void UpdateLine();

  Sink ToHost;
  std::function<void(const UartLine &)> LineChanged;
  std::mutex &Lock;
  std::condition_variable &Wake;

  // Receive FIFO: ring of bytes with their tags run-length coded alongside.
  std::vector<uint8_t> Ring;
  uint32_t Head = 0;
  uint32_t Count = 0;
  std::deque<TagRun> Tags;
  bool Overrun = false;
  bool FramingError = false;

  // Registers as written by the program; the line they make is mirrored
  // under the lock for the host side.
  uint32_t Divisor = RH_UART_CLOCK_RATE / 28800;
  uint32_t LineControl = RH_UART_LC_8N2;
  UartLine Current;

  std::atomic<uint64_t> Received{0};
  std::atomic<uint64_t> Sent{0};
};

} // namespace kestrune::arm
