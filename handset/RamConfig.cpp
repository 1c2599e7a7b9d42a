// The RAM program's configuration messages: line speed, identification,
// segment map and the flash type request.
#include "handset/HandsetCore.h"
#include "engine/WireBytes.h"

#include "engine/RamProgram.h"

namespace kestrune::handset {
namespace {

constexpr uint8_t Ack = AckByte;
constexpr uint8_t Nak = NakByte;
constexpr uint8_t Prefix = AckByte; // the host's messages start with its ACK byte
constexpr uint8_t SpeedArgs[] = {0x01, 0x00, 0x00, 0x00};
constexpr uint8_t MapArgs[] = {0x02, 0x01, 0x00, 0x00, 0x00};
// The speed code goes into the UART's divisor: rate = 921600 / (code + 1).
constexpr uint32_t UartClockRate = 921600;

} // namespace

// Collects a message that starts with the command prefix; bytes before a
// prefix are skipped. True when `length` bytes are in Msg.
bool HandsetCore::Collect(uint8_t byte, size_t length) {
  if (MsgPos == 0) {
    if (byte != Prefix) {
      LogIgnored(byte);
      return false;
    }
    Msg.clear();
  }
  Msg.push_back(byte);
  ++MsgPos;
  if (MsgPos < length)
    return false;
  MsgPos = 0;
  return true;
}

void HandsetCore::OnSpeed(uint8_t byte) {
  if (!Collect(byte, 6))
    return;
  if (!std::equal(std::begin(SpeedArgs), std::end(SpeedArgs), Msg.begin() + 1)) {
    Log("unknown command " + HexBytes(Msg.data(), Msg.size()) + " while waiting for the speed");
    return;
  }
  uint32_t newRate = UartClockRate / (uint32_t(Msg[5]) + 1);
  // The host switches right after sending this message, so either rate
  // passes; any other setting garbled the message.
  if (!LineAgrees(MsgHost, BootRate) && !LineAgrees(MsgHost, newRate)) {
    Log("line: host at " + DescribeHostLine(MsgHost) +
        " while the speed message was due at 28800 8N2: message garbled, dropped");
    return;
  }
  Log("got speed message " + HexBytes(Msg.data(), Msg.size()) + ": switching to " +
      std::to_string(newRate) + " baud");
  if (Silenced(Phase::Speed))
    return;
  Rate = newRate;
  Summary.LineRate = newRate;
  Current = Stage::Id;
}

void HandsetCore::OnId(uint8_t byte) {
  if (!Collect(byte, 2))
    return;
  if (Msg[1] != 0x00) {
    Log("unknown command " + HexBytes(Msg.data(), Msg.size()) + " while waiting for the ID request");
    return;
  }
  Log("got ID request " + HexBytes(Msg.data(), Msg.size()));
  if (Silenced(Phase::Id))
    return;
  uint16_t maker = 0;
  uint16_t device = 0;
  Driver.ReadIdentifier(maker, device);
  const uint8_t record[10] = {uint8_t(maker >> 8),  uint8_t(maker), uint8_t(device >> 8),
                              uint8_t(device),      0x01,           0x00,
                              0x00,                 0x00,           uint8_t(SegmentCount >> 8),
                              uint8_t(SegmentCount)};
  // One byte per host data wait: each byte follows the previous one's write
  // by more than the 41 ms of an eight-byte read.
  for (size_t i = 0; i < sizeof record; ++i)
    Queue.Push(record[i], Rate, Now, i == 0 ? SimTime(0) : IdGap);
  Log("send identification " + HexBytes(record, sizeof record) + " (one byte every " +
      std::to_string(IdGap.count() / 1000) + " ms)");
  Current = Stage::MapCommand;
}

void HandsetCore::OnMapCommand(uint8_t byte) {
  if (!Collect(byte, 6))
    return;
  if (!std::equal(std::begin(MapArgs), std::end(MapArgs), Msg.begin() + 1)) {
    Log("unknown command " + HexBytes(Msg.data(), Msg.size()) + " while waiting for the map");
    return;
  }
  Log("got map command " + HexBytes(Msg.data(), Msg.size()));
  if (Silenced(Phase::Map))
    return;
  Send(Options.MapAnswer, Now, "map command answer");
  Current = Stage::Map;
  MapCount = 0;
  MapBytes = 0;
  MapOk = true;
  Msg.clear();
}

// The entry count (2 bytes), then the entries (4 bytes each), compared with
// the segment map this flash has as they arrive.
void HandsetCore::OnMap(uint8_t byte) {
  ++MsgPos;
  if (MsgPos <= 2) {
    MapCount = uint16_t(MapCount << 8 | byte);
    if (MsgPos == 2 && MapCount == 0) {
      MsgPos = 0;
      MapOk = false;
      Log("got an empty segment map: refused");
      Current = Stage::FlashType;
    }
    return;
  }
  Msg.push_back(byte);
  if (Msg.size() < 4)
    return;
  uint32_t entry = uint32_t(Msg[0]) << 24 | uint32_t(Msg[1]) << 16 | uint32_t(Msg[2]) << 8 | Msg[3];
  Msg.clear();
  uint32_t index = MapBytes / 4;
  MapBytes += 4;
  if (index >= SegmentCount || SegmentMap[index] != entry) {
    if (MapOk)
      Log("segment map entry " + std::to_string(index) + " differs from this flash's");
    MapOk = false;
  }
  if (MapBytes < uint32_t(MapCount) * 4)
    return;
  MsgPos = 0;
  if (MapCount != SegmentCount)
    MapOk = false;
  Log("got segment map of " + std::to_string(MapCount) + " entries: " +
      (MapOk ? "matches the flash" : "does not match the flash"));
  Current = Stage::FlashType;
}

void HandsetCore::OnFlashType(uint8_t byte) {
  if (!Collect(byte, 1))
    return;
  Log("got flash type request 21");
  if (Silenced(Phase::FlashType))
    return;
  uint16_t maker = 0;
  uint16_t device = 0;
  Driver.ReadIdentifier(maker, device);
  bool supported = MapOk && maker == NorFlash::ManufacturerId && device == NorFlash::DeviceId;
  if (!supported) {
    Send(Nak, Now, device == NorFlash::DeviceId ? "flash refused: wrong segment map"
                                                : "flash refused: unknown device");
    EndRun(RunOutcome::FlashRefused);
    return;
  }
  Send(Ack, Now, "flash supported");
  Current = Stage::StartHeader;
}

} // namespace kestrune::handset
