#include "tests/handset/CoreRig.h"

#include <gtest/gtest.h>

namespace kestrune::handset::test {

namespace {

// The rig's virtual clock drives the host-code model of the RAM program;
// the emulated core runs in real time and has tests of its own.
HandsetOptions HostModel(HandsetOptions options) {
  options.Model = RamModel::Host;
  return options;
}

} // namespace

CoreRig::CoreRig(HandsetOptions options)
    : CorePtr(std::make_unique<HandsetCore>(HostModel(options), Log)) {}

void CoreRig::Send(const std::vector<uint8_t> &bytes) {
  CorePtr->Receive(bytes.data(), bytes.size(), Host, Now);
  RunFor(Settle);
}

void CoreRig::RunFor(SimTime duration, SimTime firstWriteDelay) {
  SimTime end = Now + duration;
  SimTime delay = firstWriteDelay;
  for (;;) {
    CorePtr->Advance(Now);
    std::vector<uint8_t> out;
    CorePtr->TakeOutput(Now, Host, out);
    if (!out.empty()) {
      // A writer that was held up puts the bytes on the line late.
      SimTime written = Now + delay;
      delay = SimTime(0);
      for (uint8_t b : out)
        Received.push_back({written, b});
      CorePtr->OutputWritten(written);
      Now = written;
      continue;
    }
    std::optional<SimTime> next = CorePtr->NextWakeup();
    if (!next || *next > end)
      break;
    Now = *next > Now ? *next : Now + SimTime(1);
  }
  if (Now < end)
    Now = end;
  CorePtr->Advance(Now);
}

std::vector<uint8_t> CoreRig::Take() {
  std::vector<uint8_t> bytes;
  for (const Answer &a : Received)
    bytes.push_back(a.Byte);
  Received.clear();
  return bytes;
}

std::vector<Answer> CoreRig::TakeTimed() {
  std::vector<Answer> answers = std::move(Received);
  Received.clear();
  return answers;
}

void CoreRig::Boot() {
  Send({0x45});
  ASSERT_EQ(Take(), std::vector<uint8_t>{0x43});
}

void CoreRig::LoadRamProgram() {
  Send({0x6A, 0, 0, 0, 0, 0x40, 0, 0, 0, 0, 0, 0x17, 0x00});
  Send(std::vector<uint8_t>(RamProgram.begin(), RamProgram.end()));
  ASSERT_EQ(Take(), std::vector<uint8_t>{0x21});
}

void CoreRig::SetSpeed(uint8_t code, uint32_t rate) {
  Send({0x21, 0x01, 0x00, 0x00, 0x00, code});
  Host.Rate = rate;
  RunFor(Ms(20));
}

std::vector<uint8_t> CoreRig::Identify() {
  Send({0x21, 0x00});
  RunFor(HandsetCore::IdGap * 10 + Ms(200));
  return Take();
}

uint8_t CoreRig::SendMap(const std::vector<uint32_t> &map) {
  Send({0x21, 0x02, 0x01, 0x00, 0x00, 0x00});
  std::vector<uint8_t> answer = Take();
  std::vector<uint8_t> bytes{uint8_t(map.size() >> 8), uint8_t(map.size())};
  for (uint32_t entry : map)
    bytes.insert(bytes.end(), {uint8_t(entry >> 24), uint8_t(entry >> 16), uint8_t(entry >> 8),
                               uint8_t(entry)});
  Send(bytes);
  EXPECT_EQ(answer.size(), 1u);
  return answer.empty() ? 0 : answer[0];
}

uint8_t CoreRig::FlashType() {
  Send({0x21});
  std::vector<uint8_t> answer = Take();
  EXPECT_EQ(answer.size(), 1u);
  return answer.empty() ? 0 : answer[0];
}

void CoreRig::Configure() {
  Boot();
  LoadRamProgram();
  SetSpeed(0x00, 921600);
  ASSERT_EQ(Identify().size(), 10u);
  ASSERT_EQ(SendMap(ExpectedMap()), 0x01);
  ASSERT_EQ(FlashType(), 0x21);
}

void CoreRig::StartHeader(uint16_t blocks) {
  Send({uint8_t(blocks >> 8), uint8_t(blocks)});
  Send({0x00, 0x00, 0x80, 0x00});
  Send({0x01});
}

void CoreRig::Block(uint32_t offset, const std::vector<uint8_t> &data, bool corruptSum) {
  Send(Frame(offset, data, corruptSum));
}

std::vector<uint8_t> Frame(uint32_t offset, const std::vector<uint8_t> &data, bool corruptSum) {
  std::vector<uint8_t> frame(8 + data.size());
  const uint8_t header[8] = {uint8_t(data.size() >> 8), uint8_t(data.size()), 0, 0,
                             uint8_t(offset >> 24), uint8_t(offset >> 16), uint8_t(offset >> 8),
                             uint8_t(offset)};
  std::copy(header, header + 8, frame.begin());
  std::copy(data.begin(), data.end(), frame.begin() + 8);
  uint16_t sum = 0;
  for (size_t i = 4; i < 8; ++i)
    sum = uint16_t(sum + frame[i]);
  for (uint8_t b : data)
    sum = uint16_t(sum + b);
  if (corruptSum)
    sum = uint16_t(sum + 1);
  frame[2] = uint8_t(sum >> 8);
  frame[3] = uint8_t(sum);
  return frame;
}

std::vector<uint32_t> ExpectedMap() { return {SegmentMap.begin(), SegmentMap.end()}; }

std::vector<uint8_t> Pattern(size_t length, uint8_t seed) {
  std::vector<uint8_t> bytes(length);
  for (size_t i = 0; i < length; ++i)
    bytes[i] = uint8_t((i * 31 + seed * 7 + (i >> 8)) % 251);
  return bytes;
}

} // namespace kestrune::handset::test
