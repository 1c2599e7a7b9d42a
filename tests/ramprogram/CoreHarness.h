// Drives an emulated core directly over its byte interface, as the host
// would over the line: bytes out tagged with the host's line setting,
// bytes in collected with the setting the UART sent them at.
#pragma once

#include "handset/arm/ArmCore.h"
#include "handset/arm/FlashChip.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

namespace kestrune::test {

using namespace std::chrono_literals;

class CoreHarness {
public:
  explicit CoreHarness(arm::FlashIdentity identity = {}, arm::CoreOptions options = FastOptions());
  ~CoreHarness();

  // Options for tests: the program's own timer runs 20 times fast.
  static arm::CoreOptions FastOptions();

  // Loads the image at the start of RAM and starts the core with the UART
  // at 28800 baud, 8N2, as the boot ROM leaves it, and takes the program's
  // first ACK. The engine's RAM program unless told otherwise.
  void Boot(std::span<const uint8_t> image = {});

  void Send(std::span<const uint8_t> bytes);
  void Send(std::initializer_list<uint8_t> bytes) { Send(std::span(bytes.begin(), bytes.size())); }
  void Send(const std::vector<uint8_t> &bytes) { Send(std::span(bytes)); }
  void SetHostRate(uint32_t rate) { HostLine.Rate = rate; }

  // Up to count bytes, waiting at most timeout for all of them.
  std::vector<uint8_t> Receive(size_t count, std::chrono::milliseconds timeout = 5000ms);
  // True when no byte arrives within the time.
  bool Quiet(std::chrono::milliseconds time);
  // Every byte received so far: the UART's setting and the time it left.
  struct Departure {
    arm::UartLine Line;
    arm::Clock::time_point Time;
  };
  std::vector<Departure> Departures() const;

  // The handshake as the host does it, up to the flash type answer, which
  // it returns (0 if none came). Checks every answer on the way.
  uint8_t Configure(uint8_t speedCode = 0x00, uint32_t rate = 921600);
  // Configure, then the start header and its answer.
  void Begin(uint32_t blocks);
  // The run has ended with the program back in the boot ROM.
  bool BackInBootRom();

  arm::FlashChip Flash;
  std::unique_ptr<arm::ArmCore> Core;
  arm::UartLine HostLine;

private:
  mutable std::mutex Lock;
  std::condition_variable Arrived;
  std::deque<uint8_t> Incoming;
  std::vector<Departure> Log;
};

// The frame of one block: length, block sum, offset, data.
std::vector<uint8_t> Frame(uint32_t offset, std::span<const uint8_t> data);
std::vector<uint8_t> StartHeader(uint32_t blocks);
std::vector<uint8_t> SegmentMapMessage();
// A pattern image of the given size that differs block to block.
std::vector<uint8_t> PatternImage(size_t size, uint32_t seed = 1);

} // namespace kestrune::test
