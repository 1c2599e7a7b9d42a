// The handset's boot ROM: answers the "E" call with "C", skips stray calls
// still in flight, takes the RAM program header and image, and starts the
// image if it is the loader this handset can run.
#include "handset/HandsetCore.h"
#include "engine/WireBytes.h"

#include "engine/RamProgram.h"

#include <algorithm>

namespace kestrune::handset {
namespace {

constexpr uint8_t BootCall = BootCallByte;
constexpr uint8_t BootAnswer = BootAnswerByte;
constexpr uint8_t LoadCommand = RamProgramCommand;
constexpr size_t LoadHeaderSize = 13;
constexpr uint8_t Ack = AckByte;

// Line noise of a handset powering up: never "C", ACK or NAK.
constexpr std::array<uint8_t, 6> NoiseBytes{0x00, 0xFF, 0x80, 0xF8, 0x55, 0x0A};

uint32_t BigEndian32(const uint8_t *p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

} // namespace

// While a swap is underway nothing is on the line; once its time is over
// the next byte meets a fresh unit.
bool HandsetCore::SwapUnderway() {
  if (!SwapEndsAt)
    return false;
  if (Now < *SwapEndsAt) {
    if (!SwapLogged)
      Log("no handset on the line (swap): bytes dropped");
    SwapLogged = true;
    return true;
  }
  SwapEndsAt.reset();
  FlashPart.EraseAll();
  PowerOnAt.reset();
  Log("a fresh handset is on the line (flash erased)");
  return false;
}

void HandsetCore::OnBootCall(uint8_t byte) {
  if (SwapUnderway())
    return;
  if (Options.PowerOnDelayMs > 0) {
    if (!PowerOnAt)
      PowerOnAt = Now;
    if (Now < *PowerOnAt + Ms(Options.PowerOnDelayMs)) {
      if (!PowerOnLogged)
        Log("boot ROM not running yet (power-on delay): bytes dropped");
      PowerOnLogged = true;
      return;
    }
  }
  if (byte != BootCall) {
    LogIgnored(byte);
    return;
  }
  if (Silenced(Phase::Boot))
    return;
  BeginRun();
  Log("got E (boot call)");
  if (Options.Noise) {
    for (uint8_t noise : NoiseBytes)
      Send(noise, Now);
    Log("send " + HexBytes(NoiseBytes.data(), NoiseBytes.size()) + " (line noise)");
  }
  Send(BootAnswer, Now, "boot ROM answer C");
  Current = Stage::BootHeader;
  IgnoredBytes = 0;
}

void HandsetCore::OnBootHeader(uint8_t byte) {
  if (byte == BootCall) {
    ++StrayCalls;
    return;
  }
  if (byte != LoadCommand) {
    LogIgnored(byte);
    return;
  }
  if (StrayCalls)
    Log("skipped " + std::to_string(StrayCalls) + " stray E after the answer");
  Current = Stage::BootLoad;
  Msg.assign(1, byte);
  MsgPos = 1;
  Counting = true; // this byte is counted by the receive loop
}

void HandsetCore::OnBootLoad(uint8_t byte) {
  if (MsgPos < LoadHeaderSize) {
    Msg.push_back(byte);
    ++MsgPos;
    if (MsgPos < LoadHeaderSize)
      return;
    ImageAddress = BigEndian32(Msg.data() + 5);
    ImageLength = uint32_t(Msg[11]) << 8 | Msg[12];
    Log("got RAM program header " + HexBytes(Msg.data(), Msg.size()) + " (" +
        std::to_string(ImageLength) + " bytes at 0x" + Hex8(ImageAddress) + ")");
    bool fits = ImageAddress >= RamBase && ImageLength > 0 &&
                uint64_t(ImageAddress) + ImageLength <= uint64_t(RamBase) + RamSize;
    if (!fits) {
      Log("the header places the program outside RAM: the boot ROM hangs");
      Halt(RunOutcome::BadRamHeader);
      return;
    }
    Image.clear();
    Image.reserve(ImageLength);
    return;
  }
  Image.push_back(byte);
  ++MsgPos;
  if (Image.size() == ImageLength)
    StartRamProgram();
}

// The boot ROM jumps into the image. Only the loader this handset knows runs;
// anything else hangs the handset, silent until the host lets go of the line.
void HandsetCore::StartRamProgram() {
  MsgPos = 0;
  bool known = ImageAddress == RamProgramLoadAddress && Image.size() == RamProgram.size() &&
               std::equal(Image.begin(), Image.end(), RamProgram.begin());
  if (!known) {
    size_t diff = 0;
    while (diff < Image.size() && diff < RamProgram.size() && Image[diff] == RamProgram[diff])
      ++diff;
    Log("got a RAM program image (" + std::to_string(Image.size()) +
        " bytes) that is not the known loader (first difference at byte " +
        std::to_string(diff) + "): the handset hangs, no ACK");
    Halt(RunOutcome::UnknownRamProgram);
    return;
  }
  Log("got the RAM program image (" + std::to_string(Image.size()) + " bytes): it starts");
  if (Silenced(Phase::RamProgram))
    return;
  if (Options.Model == RamModel::Arm) {
    StartEmulated(); // the program sends its ACK itself
    return;
  }
  Send(Ack, Now, "RAM program ACK");
  Current = Stage::Speed;
}

} // namespace kestrune::handset
