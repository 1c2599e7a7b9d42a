// The RAM program's side of the programming exchange: start header, block
// frames, the erase with its per-segment report after the second block, the
// two receive buffers and the verdict.
//
// Which byte answers which message (the host reads them one at a time):
//   start header          -> ACK (ready for block 1); with 0 blocks ACK, ACK
//   block 1 (not last)    -> ACK at once (the second buffer is free)
//   block 2 (not last)    -> 130 ACKs, one per erased segment, then after
//                            blocks 1 and 2 are programmed the ready ACK as
//                            the 131st byte; nothing more until block 3
//   block 2 refused       -> 131 report bytes, then NAK
//   block k >= 3 (not last) -> ACK once block k-1 is programmed (its buffer
//                            is free again)
//   refused block (not last) -> NAK; the same block comes again
//   last block            -> (erase and program) verdict ACK, or NAK and the
//                            eight-byte record C, S
//   refused last block    -> NAK and the record: the host never sends the
//                            last block again
#include "handset/HandsetCore.h"
#include "handset/NorFlash.h"
#include "engine/WireBytes.h"

#include "engine/RamProgram.h"

#include <algorithm>

namespace kestrune::handset {
namespace {

constexpr uint8_t Ack = AckByte;
constexpr uint8_t Nak = NakByte;

} // namespace

void HandsetCore::OnStartHeader(uint8_t byte) {
  if (MsgPos == 0)
    Msg.clear();
  Msg.push_back(byte);
  if (++MsgPos < 7)
    return;
  MsgPos = 0;
  uint32_t blocks = uint32_t(Msg[0]) << 8 | Msg[1];
  uint32_t blockSize = uint32_t(Msg[2]) << 24 | uint32_t(Msg[3]) << 16 | uint32_t(Msg[4]) << 8 | Msg[5];
  Log("got start header " + HexBytes(Msg.data(), Msg.size()) + " (" + std::to_string(blocks) +
      " blocks)");
  if (Silenced(Phase::Start))
    return;
  Summary.BlocksAnnounced = blocks;
  if (blockSize != BlockSize || Msg[6] != StartByte) {
    // The buffers hold 32 KiB blocks only: refuse, then give the verdict at
    // once so that the host's verdict wait ends.
    Send(Nak, Now, "start header refused");
    Send(Nak, Now, "verdict: programming error");
    SendRecord(Now);
    EndRun(RunOutcome::BadStartHeader);
    return;
  }
  if (blocks == 0) {
    Send(Ack, Now, "ready answer, empty image");
    Send(Ack, Now, "verdict: complete");
    EndRun(RunOutcome::Complete);
    return;
  }
  Send(Ack, Now, "ready for block 1");
  BlocksAnnounced = blocks;
  Current = Stage::Frame;
}

void HandsetCore::OnFrame(uint8_t byte) {
  if (MsgPos == 0)
    Msg.clear();
  if (MsgPos < FrameHeaderSize) {
    Msg.push_back(byte);
    ++MsgPos;
    if (MsgPos == FrameHeaderSize)
      FrameHeaderDone();
    return;
  }
  // Garbled frame data comes byte by byte; intact data takes the bulk path.
  TakeFrameData(&byte, 1);
  if (size_t(MsgPos - FrameHeaderSize) == FrameLength)
    HandleBlock();
}

void HandsetCore::FrameHeaderDone() {
  FrameLength = uint16_t(Msg[0] << 8 | Msg[1]);
  FrameSum = uint16_t(Msg[2] << 8 | Msg[3]);
  FrameOffset = uint32_t(Msg[4]) << 24 | uint32_t(Msg[5]) << 16 | uint32_t(Msg[6]) << 8 | Msg[7];
  RunningSum = uint16_t(Msg[4] + Msg[5] + Msg[6] + Msg[7]);
  if (FrameLength == 0)
    HandleBlock();
}

void HandsetCore::HandleBlock() {
  MsgPos = 0;
  bool firstFrame = FramesSeen++ == 0;
  uint32_t k = BlocksGood + 1;
  bool valid = FrameLength >= 1 && FrameLength <= BlockSize;
  bool sumOk = valid && RunningSum == FrameSum;
  bool injected = sumOk && Options.NakBlock == k && NakLeft > 0;
  if (injected)
    --NakLeft;
  bool good = sumOk && !injected;
  bool last = k >= BlocksAnnounced || FrameLength < BlockSize;
  Log("got block " + std::to_string(k) + ": " + std::to_string(FrameLength) + " bytes at offset 0x" +
      Hex8(FrameOffset) + ", sum " + (sumOk ? "right" : "wrong") +
      (injected ? " (refused by --nak-block)" : "") + (last ? ", last block" : ""));
  if (firstFrame && Silenced(Phase::Blocks))
    return;

  if (!good) {
    ++Summary.BlocksRefused;
    if (last) {
      if (Silenced(Phase::Verdict))
        return;
      Send(Nak, FlashFreeAt, "last block refused: verdict programming error");
      SendRecord(FlashFreeAt);
      EndRun(RunOutcome::ProgrammingError);
      return;
    }
    if (k == 2) {
      // The host reads the erase report before its reply to block 2.
      if (Silenced(Phase::Erase) || !EraseWithReport())
        return;
      Send(Ack, FlashFreeAt);
      Send(Nak, FlashFreeAt, "erase report done (131 bytes), block 2 refused");
      return;
    }
    Send(Nak, Now, "block refused, send it again");
    return;
  }

  BlocksGood = k;
  if (k <= 2) {
    HeldBlock &held = Held[k - 1];
    held.Offset = FrameOffset;
    held.Data.assign(FrameData.begin(), FrameData.begin() + FrameLength);
  }
  if (!last) {
    if (k == 1) {
      Send(Ack, Now, "block 1 taken, second buffer free");
      return;
    }
    if (k == 2) {
      if (Silenced(Phase::Erase) || !EraseWithReport())
        return;
      ProgramHeld();
      Send(Ack, FlashFreeAt, "erase report done (131 bytes), ready for block 3");
      return;
    }
    // The buffer of block k-1 is free once that block is programmed.
    SimTime freeAt = std::max(Now, FlashFreeAt);
    ProgramData(FrameOffset, FrameData.data(), FrameLength);
    Send(Ack, freeAt);
    return;
  }

  if (!Erased) {
    if (Silenced(Phase::Erase))
      return;
    if (!EraseSilently()) {
      if (Silenced(Phase::Verdict))
        return;
      Send(Nak, FlashFreeAt, "erase failed: verdict programming error");
      SendRecord(FlashFreeAt);
      EndRun(RunOutcome::ProgrammingError);
      return;
    }
  }
  if (k <= 2)
    ProgramHeld();
  else
    ProgramData(FrameOffset, FrameData.data(), FrameLength);
  if (Silenced(Phase::Verdict))
    return;
  SendVerdict();
}

// Erases all segments and queues one ACK per segment for the first 130 (or
// 130 ACKs at once when the flash is already erased: a repeated block 2).
// The caller sends the 131st byte. On a failed segment a NAK takes its ACK's
// place and the handset stops.
bool HandsetCore::EraseWithReport() {
  if (Erased) {
    for (uint32_t s = 1; s < SegmentCount; ++s)
      Send(Ack, Now);
    Log("send erase report again: 130 ACK (already erased)");
    return true;
  }
  SimTime at = std::max(Now, FlashFreeAt);
  SimTime start = at;
  for (uint32_t s = 1; s <= SegmentCount; ++s) {
    if (KeepsSegment(s)) {
      if (s < SegmentCount)
        Send(Ack, at);
      continue;
    }
    FlashDriver::Result result = Driver.EraseSegment(int(s - 1));
    at += SimTime(result.BusyUs);
    if (!result.Ok) {
      FlashFreeAt = at;
      Send(Nak, at);
      Log("send " + std::to_string(s - 1) + " ACK, then NAK: segment " + std::to_string(s) +
          " failed to erase (status " + Hex2(result.Status) + "); the handset stops");
      EndRun(RunOutcome::EraseFailed);
      return false;
    }
    if (s < SegmentCount)
      Send(Ack, at);
  }
  FlashFreeAt = at;
  Erased = true;
  Log("send erase report: 130 ACK over " + std::to_string((at - start).count() / 1000) + " ms" +
      KeptText());
  return true;
}

// The image's first address is that of its first block. Segments that lie
// wholly below it keep what they hold (a boot area below the image); their
// report bytes are ACKs all the same. An image from address 0 erases all.
bool HandsetCore::KeepsSegment(uint32_t segment) const {
  int index = int(segment - 1);
  uint64_t end = uint64_t(NorFlash::SegmentStart(index)) + NorFlash::SegmentSize(index);
  return end <= Held[0].Offset;
}

std::string HandsetCore::KeptText() const {
  if (!KeepsSegment(1))
    return {};
  return ", flash below 0x" + Hex8(Held[0].Offset) + " kept";
}

bool HandsetCore::EraseSilently() {
  SimTime at = std::max(Now, FlashFreeAt);
  for (uint32_t s = 1; s <= SegmentCount; ++s) {
    if (KeepsSegment(s))
      continue;
    FlashDriver::Result result = Driver.EraseSegment(int(s - 1));
    at += SimTime(result.BusyUs);
    if (!result.Ok) {
      FlashFreeAt = at;
      Log("segment " + std::to_string(s) + " failed to erase (status " + Hex2(result.Status) + ")");
      return false;
    }
  }
  FlashFreeAt = at;
  Erased = true;
  Log("erased the segments (no report for a short image)" + KeptText());
  return true;
}

void HandsetCore::ProgramHeld() {
  for (uint32_t k = 1; k <= std::min<uint32_t>(BlocksGood, 2); ++k) {
    HeldBlock &held = Held[k - 1];
    ProgramData(held.Offset, held.Data.data(), uint32_t(held.Data.size()));
  }
}

void HandsetCore::ProgramData(uint32_t offset, const uint8_t *data, uint32_t length) {
  SimTime start = std::max(Now, FlashFreeAt);
  FlashDriver::Result result = Driver.Program(offset, data, length);
  FlashFreeAt = start + SimTime(result.BusyUs);
  ++Summary.BlocksProgrammed;
  if (!result.Ok)
    Log("programming the block at 0x" + Hex8(offset) + " failed (first status " +
        Hex2(result.Status) + ")");
}

void HandsetCore::SendVerdict() {
  if (Driver.Failures() == 0) {
    Send(Ack, FlashFreeAt, "verdict: complete");
    EndRun(RunOutcome::Complete);
    return;
  }
  Send(Nak, FlashFreeAt, "verdict: programming error");
  SendRecord(FlashFreeAt);
  EndRun(RunOutcome::ProgrammingError);
}

void HandsetCore::SendRecord(SimTime at) {
  uint32_t c = Driver.Failures();
  uint32_t s = Driver.FirstFailureStatus();
  const uint8_t record[8] = {uint8_t(c >> 24), uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c),
                             uint8_t(s >> 24), uint8_t(s >> 16), uint8_t(s >> 8), uint8_t(s)};
  for (uint8_t byte : record)
    Send(byte, at);
  Log("send error record " + HexBytes(record, sizeof record) + " (C:" + std::to_string(c) +
      ", S:0x" + Hex8(s) + ")");
}

} // namespace kestrune::handset
