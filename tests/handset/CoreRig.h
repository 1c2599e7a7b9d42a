// Drives a handset core on a virtual clock, as a host on a line would: bytes
// go in with the host's settings, answers come out when they are due.
#pragma once

#include "engine/RamProgram.h"
#include "handset/HandsetCore.h"

#include <memory>
#include <vector>

namespace kestrune::handset::test {

struct Answer {
  SimTime At;
  uint8_t Byte;
};

class CoreRig {
public:
  explicit CoreRig(HandsetOptions options = {});

  HandsetCore &Core() { return *CorePtr; }
  HostLine Host{true, 28800, 8, 2, false};
  SimTime Now{};
  // How long each Send lets the clock run (answers paced at the line rate
  // need a little time to leave).
  SimTime Settle{};

  void Send(const std::vector<uint8_t> &bytes);
  // Lets time pass, writing each answer when it is due; the first write can
  // be held up by firstWriteDelay, as a descheduled writer thread would be.
  void RunFor(SimTime duration, SimTime firstWriteDelay = SimTime(0));
  // Answers received since the last call.
  std::vector<uint8_t> Take();
  std::vector<Answer> TakeTimed();

  // Protocol steps; each expects the handset's right answer.
  void Boot();
  void LoadRamProgram();
  void SetSpeed(uint8_t code, uint32_t rate);
  std::vector<uint8_t> Identify();
  uint8_t SendMap(const std::vector<uint32_t> &map);
  uint8_t FlashType();
  // Everything up to and including the flash type ACK, at 921600.
  void Configure();
  void StartHeader(uint16_t blocks);
  void Block(uint32_t offset, const std::vector<uint8_t> &data, bool corruptSum = false);

  std::vector<std::string> TraceLines() const { return Log.Lines(); }

private:
  Trace Log;
  std::unique_ptr<HandsetCore> CorePtr;
  std::vector<Answer> Received;
};

std::vector<uint8_t> Frame(uint32_t offset, const std::vector<uint8_t> &data, bool corruptSum = false);
std::vector<uint32_t> ExpectedMap();
// Image bytes with a pattern that differs per block and is never 0xFFFF.
std::vector<uint8_t> Pattern(size_t length, uint8_t seed);

} // namespace kestrune::handset::test
