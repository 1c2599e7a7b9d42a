#include "handset/ExchangeWatcher.h"
#include "engine/WireBytes.h"

#include "handset/Trace.h"

namespace kestrune::handset {
namespace {

constexpr uint8_t Ack = AckByte;
constexpr uint8_t Nak = NakByte;
constexpr uint8_t OpIdentify = 0x00;
constexpr uint8_t OpSpeed = 0x01;
constexpr uint8_t OpMap = 0x02;
constexpr uint32_t BlockSize = ProgramBlockSize;

uint32_t BigEndian32(const uint8_t *p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

} // namespace

ExchangeWatcher::ExchangeWatcher(const HandsetOptions &options)
    : Options(options), NakLeft(options.NakTimes) {}

std::vector<std::string> ExchangeWatcher::TakeNotes() {
  std::vector<std::string> notes;
  notes.swap(Notes);
  return notes;
}

bool ExchangeWatcher::SilenceAt(Phase phase) {
  if (SilenceReached || Options.SilentAfter != phase)
    return false;
  SilenceReached = true;
  Notes.push_back(std::string("falls silent at phase ") + PhaseName(phase));
  return true;
}

ExchangeWatcher::HostStep ExchangeWatcher::MessageDone(Phase phase) {
  return HostStep{false, SilenceAt(phase)};
}

// The same reading as the RAM program's: commands start with the prefix;
// after the segment map a lone prefix is the flash type request, and the
// start header and the frames follow.
ExchangeWatcher::HostStep ExchangeWatcher::OnHostByte(uint8_t byte) {
  switch (Current) {
  case Stage::Command:
    if (byte != Ack)
      return {};
    if (!HaveMap) {
      Current = Stage::Op;
      return {};
    }
    Current = Stage::StartHeader;
    Count = 0;
    TypeAnswerDue = true;
    Notes.push_back("got flash type request 21");
    return MessageDone(Phase::FlashType);
  case Stage::Op:
    Count = 0;
    Current = byte == OpSpeed ? Stage::SpeedArgs : byte == OpMap ? Stage::MapArgs : Stage::Command;
    if (byte != OpIdentify)
      return {};
    Notes.push_back("got ID request 21 00");
    return MessageDone(Phase::Id);
  case Stage::SpeedArgs:
    if (++Count == 3)
      Current = Stage::SpeedCode;
    return {};
  case Stage::SpeedCode:
    Current = Stage::Command;
    Notes.push_back("got speed message 21 01 00 00 00 " + Hex2(byte));
    return MessageDone(Phase::Speed);
  case Stage::MapArgs:
    if (++Count < 4)
      return {};
    Current = Stage::MapCount;
    Count = 0;
    MapAnswerDue = true;
    Notes.push_back("got map command 21 02 01 00 00 00");
    return MessageDone(Phase::Map);
  case Stage::MapCount:
    Message[Count++] = byte;
    if (Count < 2)
      return {};
    MapBytesLeft = 4 * (uint32_t(Message[0]) << 8 | Message[1]);
    Notes.push_back("got segment map of " + std::to_string(MapBytesLeft / 4) + " entries");
    HaveMap = MapBytesLeft == 0;
    Current = HaveMap ? Stage::Command : Stage::MapEntries;
    return {};
  case Stage::MapEntries:
    if (--MapBytesLeft == 0) {
      HaveMap = true;
      Current = Stage::Command;
    }
    return {};
  case Stage::StartHeader:
    Message[Count++] = byte;
    if (Count < 7)
      return {};
    Total = uint32_t(Message[0]) << 8 | Message[1];
    BadStart = BigEndian32(Message + 2) != BlockSize || Message[6] != 0x01;
    Current = BadStart ? Stage::Finished : Stage::FrameHeader;
    Count = 0;
    StartAnswerDue = true;
    Notes.push_back("got start header " + HexBytes(Message, 7) + " (" + std::to_string(Total) +
                    " blocks)");
    return MessageDone(Phase::Start);
  case Stage::FrameHeader:
    Message[Count++] = byte;
    if (Count < 8)
      return {};
    FrameLength = uint32_t(Message[0]) << 8 | Message[1];
    FrameSum = uint16_t(Message[2] << 8 | Message[3]);
    RunningSum = uint16_t(Message[4] + Message[5] + Message[6] + Message[7]);
    Count = 0;
    if (FrameLength > BlockSize) {
      // The program drains such a frame by time; there is no following it.
      Notes.push_back("frame of " + std::to_string(FrameLength) + " bytes: no longer followed");
      Current = Stage::Lost;
      return {};
    }
    CorruptFrame = Options.NakBlock == Block && NakLeft > 0 && FrameLength > 0;
    if (CorruptFrame) {
      --NakLeft;
      Notes.push_back("block " + std::to_string(Block) + " damaged on the line (--nak-block)");
    }
    if (FrameLength == 0)
      return FrameDone();
    Current = Stage::FrameData;
    return {};
  case Stage::FrameData: {
    HostStep step;
    if (Count == 0 && CorruptFrame) {
      step.Corrupt = true;
      byte ^= 0xFF; // changes the sum whatever the byte
    }
    RunningSum = uint16_t(RunningSum + byte);
    if (++Count < FrameLength)
      return step;
    HostStep done = FrameDone();
    done.Corrupt = step.Corrupt;
    return done;
  }
  case Stage::Finished:
  case Stage::Lost:
    return {};
  }
  return {};
}

// A whole frame has come: the same judgement as the program's.
ExchangeWatcher::HostStep ExchangeWatcher::FrameDone() {
  bool good = FrameLength != 0 && RunningSum == FrameSum;
  bool last = Block >= Total || FrameLength < BlockSize;
  bool first = Frames++ == 0;
  Current = last ? Stage::Finished : Stage::FrameHeader;
  Count = 0;
  if (!good)
    ++Refused;
  if (last)
    VerdictDue = true;
  Notes.push_back("got block " + std::to_string(Block) + ": " + std::to_string(FrameLength) +
                  " bytes at offset 0x" + Hex8(BigEndian32(Message + 4)) + ", sum " +
                  (good ? "right" : "wrong") + (last ? ", last block" : ""));
  HostStep step;
  if (first && SilenceAt(Phase::Blocks)) {
    step.Withhold = true;
    return step;
  }
  bool erases = (Block == 2 && !last) || (last && good && !ErasedByReport);
  if (erases && SilenceAt(Phase::Erase)) {
    step.Withhold = true;
    return step;
  }
  if (Block == 2 && !last) {
    ErasedByReport = true;
    ReportLeft = 131; // each time block 2 comes
  }
  if (last && SilenceAt(Phase::Verdict))
    Muted = true; // the program still erases and programs; its verdict is lost
  if (good)
    ++Block;
  return step;
}

std::optional<uint8_t> ExchangeWatcher::OnAnswer(uint8_t byte) {
  if (Muted)
    return std::nullopt;
  if (MapAnswerDue) {
    MapAnswerDue = false;
    byte = Options.MapAnswer;
  } else if (TypeAnswerDue) {
    TypeAnswerDue = false;
    FlashRefused = byte != Ack;
    Ending = FlashRefused;
    Notes.push_back(FlashRefused ? "flash refused: " + Hex2(byte) : std::string("flash supported"));
  } else if (StartAnswerDue) {
    StartAnswerDue = false;
    Ending = BadStart;
    if (Total == 0 && !BadStart)
      VerdictDue = true;
  } else if (ReportLeft != 0) {
    --ReportLeft;
    if (byte == Nak) {
      EraseFailed = Ending = true;
      ReportLeft = 0;
      Notes.push_back("erase failed: NAK in the report");
    }
  } else if (VerdictDue && !Verdict) {
    Ending = true;
    Verdict = byte;
    if (byte == Ack)
      Notes.push_back("verdict: complete");
  } else if (Verdict && *Verdict == Nak && Record.size() < 8) {
    Record.push_back(byte);
    if (Record.size() == 8)
      Notes.push_back("verdict: programming error, record " + HexBytes(Record.data(), 8));
  }
  return byte;
}

RunOutcome ExchangeWatcher::Outcome() const {
  if (FlashRefused)
    return RunOutcome::FlashRefused;
  if (BadStart)
    return RunOutcome::BadStartHeader;
  if (Verdict)
    return *Verdict == Ack ? RunOutcome::Complete : RunOutcome::ProgrammingError;
  if (EraseFailed)
    return RunOutcome::EraseFailed;
  return RunOutcome::HostClosed;
}

void ExchangeWatcher::Fill(RunSummary &summary) const {
  summary.BlocksAnnounced = Total;
  summary.BlocksRefused = Refused;
  // Every accepted block is programmed before the verdict goes out.
  summary.BlocksProgrammed = Verdict ? Block - 1 : 0;
  if (Record.size() == 8) {
    summary.Failures = BigEndian32(Record.data());
    summary.FailureStatus = BigEndian32(Record.data() + 4);
  }
}

} // namespace kestrune::handset
