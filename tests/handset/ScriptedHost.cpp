#include "tests/handset/ScriptedHost.h"

#include "engine/RamProgram.h"
#include "handset/HandsetCore.h"

#include <gtest/gtest.h>

#include <thread>

namespace kestrune::handset::test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr uint8_t Ack = 0x21;
constexpr uint8_t Nak = 0x15;
constexpr CommTimeouts Polling{0, 5, 1, 0, 0};

} // namespace

ScriptedHost::ScriptedHost(const std::string &path, uint32_t rate) : Port(CreateSerialPort()) {
  if (!Port->Open(path))
    return;
  Port->GetSettings(Settings);
  Settings.BaudRate = rate;
  Settings.ByteSize = 8;
  Settings.StopBits = 2;
  Port->ApplySettings(Settings);
  Port->ApplyTimeouts(Polling);
  Port->Purge(true, true);
}

void ScriptedHost::SetRate(uint32_t rate) {
  Settings.BaudRate = rate;
  Port->ApplySettings(Settings);
}

bool ScriptedHost::Write(const Bytes &bytes) {
  uint32_t written = 0;
  return Port->Write(bytes.data(), uint32_t(bytes.size()), written);
}

Bytes ScriptedHost::Read(size_t n, Millis timeout) {
  Bytes bytes(n);
  uint32_t got = 0;
  Port->ApplyTimeouts(CommTimeouts{0, 0, uint32_t(timeout.count()), 0, 0});
  Port->Read(bytes.data(), uint32_t(n), got);
  Port->ApplyTimeouts(Polling);
  bytes.resize(got);
  return bytes;
}

std::optional<Bytes> ScriptedHost::PollRead(uint32_t n) {
  Bytes bytes(n);
  uint32_t got = 0;
  if (!Port->Read(bytes.data(), n, got))
    return std::nullopt;
  bytes.resize(got);
  return bytes;
}

bool ScriptedHost::Call(Millis timeout, Bytes *before) {
  auto end = Clock::now() + timeout;
  while (Clock::now() < end) {
    if (!Write({0x45}))
      return false;
    std::optional<Bytes> got = PollRead(1);
    if (!got)
      return false;
    if (got->size() == 1 && (*got)[0] == 0x43)
      return true;
    if (before && !got->empty())
      before->push_back((*got)[0]);
  }
  return false;
}

bool ScriptedHost::LoadRamProgram(const uint8_t *image) {
  Port->Purge(true, true);
  Write({0x6A, 0, 0, 0, 0, 0x40, 0, 0, 0, 0, 0, 0x17, 0x00});
  const uint8_t *data = image ? image : RamProgram.data();
  for (uint32_t at = 0; at < RamProgramLength; at += 256)
    Write(Bytes(data + at, data + at + 256));
  // The writes end long before a paced handset has taken them all in.
  Bytes answer = Read(1, Millis(10000));
  return answer == Bytes{Ack};
}

void ScriptedHost::SetSpeed(uint8_t code, uint32_t rate) {
  Write({Ack});
  Write({0x01, 0x00, 0x00, 0x00});
  Write({code});
  Port->Drain();
  std::this_thread::sleep_for(Millis(10));
  SetRate(rate);
  Port->Purge(true, true);
  std::this_thread::sleep_for(Millis(10));
}

ScriptedHost::Identification ScriptedHost::Identify() {
  Write({Ack});
  Write({0x00});
  Identification id;
  Clock::time_point first;
  for (int wait = 0; wait < 10 && id.Bytes < 10; ++wait) {
    auto end = Clock::now() + Millis(2000);
    std::optional<Bytes> got;
    do {
      got = PollRead(8);
    } while (got && got->empty() && Clock::now() < end);
    if (!got || got->empty())
      continue;
    Clock::time_point now = Clock::now();
    if (id.Bytes == 0)
      first = now;
    id.Bytes += got->size();
    id.FirstToLast = now - first;
  }
  return id;
}

std::optional<uint8_t> ScriptedHost::SendMap() {
  Write({Ack});
  Write({0x02});
  Write({0x01, 0x00, 0x00, 0x00});
  Bytes answer = Read(1, Millis(2000));
  Write({uint8_t(SegmentCount >> 8), uint8_t(SegmentCount)});
  for (uint32_t e : SegmentMap)
    Write({uint8_t(e >> 24), uint8_t(e >> 16), uint8_t(e >> 8), uint8_t(e)});
  if (answer.empty())
    return std::nullopt;
  return answer[0];
}

std::optional<uint8_t> ScriptedHost::FlashType() {
  Write({Ack});
  Bytes answer = Read(1, Millis(2000));
  if (answer.empty())
    return std::nullopt;
  return answer[0];
}

// Reads at least once, and keeps the held byte when a read brings nothing,
// exactly as the worker's wait does: after an erase report the last status
// byte counts as the reply unless something else arrives within one read.
bool ScriptedHost::WaitAckNak(uint8_t &byte, Millis limit) {
  auto end = Clock::now() + limit;
  do {
    if (Clock::now() > end)
      return false;
    uint32_t got = 0;
    uint8_t b = 0;
    if (!Port->Read(&b, 1, got))
      return false;
    if (got)
      byte = b;
  } while (byte != Ack && byte != Nak);
  return true;
}

ScriptedHost::Outcome ScriptedHost::Program(const Bytes &image, Millis limit) {
  Outcome outcome;
  constexpr uint32_t BlockSize = 32768;
  uint32_t total = uint32_t((image.size() + BlockSize - 1) / BlockSize);
  Write({uint8_t(total >> 8), uint8_t(total)});
  Write({0x00, 0x00, 0x80, 0x00});
  Write({0x01});
  uint32_t sent = 0, lastCount = 0, offset = 0;
  Bytes frame;
  uint8_t byte = 0;
  do {
    byte = 0xDE;
    if (sent == 2) {
      for (int s = 1; s <= 131; ++s) {
        byte = 0xDE;
        if (!WaitAckNak(byte, limit)) {
          outcome.Stall = "erase report byte " + std::to_string(s);
          return outcome;
        }
        outcome.Report.push_back(byte);
        if (byte == Nak)
          return outcome;
      }
    }
    if (!WaitAckNak(byte, limit)) {
      outcome.Stall = "reply after block " + std::to_string(sent);
      return outcome;
    }
    if (byte == Ack) {
      offset += lastCount;
      lastCount = uint32_t(std::min<size_t>(BlockSize, image.size() - offset));
      if (lastCount == 0)
        break;
      frame.assign(8 + lastCount, 0);
      frame[0] = uint8_t(lastCount >> 8);
      frame[1] = uint8_t(lastCount);
      frame[4] = uint8_t(offset >> 24);
      frame[5] = uint8_t(offset >> 16);
      frame[6] = uint8_t(offset >> 8);
      frame[7] = uint8_t(offset);
      std::copy(image.begin() + offset, image.begin() + offset + lastCount, frame.begin() + 8);
      uint16_t sum = 0;
      for (size_t i = 4; i < frame.size(); ++i)
        sum = uint16_t(sum + frame[i]);
      frame[2] = uint8_t(sum >> 8);
      frame[3] = uint8_t(sum);
      ++sent;
    } else {
      ++outcome.Resent;
    }
    if (lastCount)
      Write(frame);
  } while (lastCount == BlockSize && sent < total);
  byte = 0xDE;
  if (!WaitAckNak(byte, limit)) {
    outcome.Stall = "verdict";
    return outcome;
  }
  outcome.Finished = true;
  outcome.Verdict = byte;
  if (byte == Nak)
    outcome.Record = Read(8, limit);
  return outcome;
}

Bytes Image(size_t length) {
  Bytes bytes(length);
  for (size_t i = 0; i < length; ++i)
    bytes[i] = uint8_t((i * 13 + (i >> 9)) % 253);
  return bytes;
}

void ExpectSpacedIdentification(const ScriptedHost::Identification &id) {
  EXPECT_EQ(id.Bytes, 10u) << "identification bytes";
  EXPECT_GE(id.FirstToLast, 5 * HandsetCore::IdGap) << "the bytes came without the handset's gap";
}

} // namespace kestrune::handset::test
