#include "tests/ramprogram/CoreHarness.h"

#include "engine/RamProgram.h"

#include <gtest/gtest.h>

namespace kestrune::test {

CoreHarness::CoreHarness(arm::FlashIdentity identity, arm::CoreOptions options)
    : Flash(identity) {
  Core = std::make_unique<arm::ArmCore>(
      Flash,
      [this](uint8_t byte, const arm::UartLine &line) {
        {
          std::lock_guard guard(Lock);
          Incoming.push_back(byte);
          Log.push_back({line, arm::Clock::now()});
        }
        Arrived.notify_all();
      },
      options);
}

CoreHarness::~CoreHarness() { Core->Stop(); }

arm::CoreOptions CoreHarness::FastOptions() {
  arm::CoreOptions options;
  options.TimerSpeed = 20;
  return options;
}

void CoreHarness::Boot(std::span<const uint8_t> image) {
  if (image.empty())
    image = RamProgram;
  auto error = Core->Start(image, RamProgramLoadAddress, arm::UartLine{});
  ASSERT_FALSE(error) << *error;
  ASSERT_EQ(Receive(1), std::vector<uint8_t>{0x21}) << "the program's ACK when it starts";
}

void CoreHarness::Send(std::span<const uint8_t> bytes) { Core->FromHost(bytes, HostLine); }

std::vector<uint8_t> CoreHarness::Receive(size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock lock(Lock);
  Arrived.wait_for(lock, timeout, [&] { return Incoming.size() >= count; });
  size_t taken = std::min(count, Incoming.size());
  std::vector<uint8_t> bytes(Incoming.begin(), Incoming.begin() + long(taken));
  Incoming.erase(Incoming.begin(), Incoming.begin() + long(taken));
  return bytes;
}

bool CoreHarness::Quiet(std::chrono::milliseconds time) {
  std::unique_lock lock(Lock);
  return !Arrived.wait_for(lock, time, [&] { return !Incoming.empty(); });
}

std::vector<CoreHarness::Departure> CoreHarness::Departures() const {
  std::lock_guard guard(Lock);
  return Log;
}

void CoreHarness::Begin(uint32_t blocks) {
  ASSERT_EQ(Configure(), 0x21);
  Send(StartHeader(blocks));
  ASSERT_EQ(Receive(1), std::vector<uint8_t>{0x21});
}

bool CoreHarness::BackInBootRom() {
  if (!Core->WaitUntilEnded(5s))
    return false;
  return Core->End().State == arm::CoreState::ReturnedToBootRom;
}

uint8_t CoreHarness::Configure(uint8_t speedCode, uint32_t rate) {
  Send({0x21, 0x01, 0x00, 0x00, 0x00, speedCode});
  // The host switches only after its 10 ms pause; the program must not
  // depend on it, so neither do we.
  SetHostRate(rate);
  Send({0x21, 0x00});
  auto identification = Receive(10);
  EXPECT_EQ(identification.size(), 10u);
  Send({0x21, 0x02, 0x01, 0x00, 0x00, 0x00});
  auto mapAnswer = Receive(1);
  EXPECT_EQ(mapAnswer, std::vector<uint8_t>{0x01});
  Send(SegmentMapMessage());
  Send({0x21});
  auto answer = Receive(1);
  return answer.empty() ? 0 : answer[0];
}

std::vector<uint8_t> Frame(uint32_t offset, std::span<const uint8_t> data) {
  std::vector<uint8_t> frame(8 + data.size());
  frame[0] = uint8_t(data.size() >> 8);
  frame[1] = uint8_t(data.size());
  frame[4] = uint8_t(offset >> 24);
  frame[5] = uint8_t(offset >> 16);
  frame[6] = uint8_t(offset >> 8);
  frame[7] = uint8_t(offset);
  uint16_t sum = 0;
  for (int i = 4; i < 8; ++i)
    sum = uint16_t(sum + frame[i]);
  for (uint8_t byte : data)
    sum = uint16_t(sum + byte);
  frame[2] = uint8_t(sum >> 8);
  frame[3] = uint8_t(sum);
  std::copy(data.begin(), data.end(), frame.begin() + 8);
  return frame;
}

std::vector<uint8_t> StartHeader(uint32_t blocks) {
  return {uint8_t(blocks >> 8), uint8_t(blocks), 0x00, 0x00, 0x80, 0x00, 0x01};
}

std::vector<uint8_t> SegmentMapMessage() {
  std::vector<uint8_t> bytes{uint8_t(SegmentCount >> 8), uint8_t(SegmentCount)};
  for (uint32_t address : SegmentMap)
    for (int shift = 24; shift >= 0; shift -= 8)
      bytes.push_back(uint8_t(address >> shift));
  return bytes;
}

std::vector<uint8_t> PatternImage(size_t size, uint32_t seed) {
  std::vector<uint8_t> image(size);
  uint32_t state = seed * 2654435761u + 12345;
  for (auto &byte : image) {
    state = state * 1103515245u + 12345;
    byte = uint8_t(state >> 16);
  }
  return image;
}

} // namespace kestrune::test
