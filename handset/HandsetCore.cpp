// The receive loop, the line check per message, output and run bookkeeping.
#include "handset/HandsetCore.h"

#include <algorithm>

namespace kestrune::handset {

const char *OutcomeName(RunOutcome outcome) {
  switch (outcome) {
  case RunOutcome::Complete: return "complete";
  case RunOutcome::ProgrammingError: return "programming error";
  case RunOutcome::EraseFailed: return "erase failed";
  case RunOutcome::FlashRefused: return "flash refused";
  case RunOutcome::BadStartHeader: return "bad start header";
  case RunOutcome::BadRamHeader: return "bad RAM program header";
  case RunOutcome::UnknownRamProgram: return "unknown RAM program";
  case RunOutcome::Silenced: return "silenced";
  case RunOutcome::HostClosed: return "host closed the line";
  case RunOutcome::IdleReset: return "idle reset";
  case RunOutcome::Disconnected: return "disconnected";
  case RunOutcome::CoreStopped: return "emulated core stopped answering";
  }
  return "?";
}

HandsetCore::HandsetCore(const HandsetOptions &options, Trace &trace)
    : Base(options), Options(options), Log_(trace), FlashPart(options.Timing) {
  if (options.RandomFaults)
    FaultDraw.emplace(options.RandomFaults->Seed, options.RandomFaults->Percent);
  Queue.SetPacing(options.Realtime);
  if (options.UnsupportedFlash)
    FlashPart.SetDeviceId(NorFlash::OtherDeviceId);
  Msg.reserve(16);
  FrameData.resize(BlockSize);
  DrawNextUnit();
}

const char *HandsetCore::StageName() const {
  switch (Current) {
  case Stage::BootCall: return "boot ROM";
  case Stage::BootHeader: return "boot ROM (answered)";
  case Stage::BootLoad: return "boot ROM loading";
  case Stage::Speed: return "RAM program: speed";
  case Stage::Id: return "RAM program: identification";
  case Stage::MapCommand: return "RAM program: map command";
  case Stage::Map: return "RAM program: segment map";
  case Stage::FlashType: return "RAM program: flash type";
  case Stage::StartHeader: return "RAM program: start header";
  case Stage::Frame: return "RAM program: blocks";
  case Stage::Emulated: return "RAM program (emulated core)";
  case Stage::Halted: return "halted";
  }
  return "?";
}

void HandsetCore::Log(const std::string &text) { Log_.Log(Now, text); }

void HandsetCore::LogIgnored(uint8_t byte) {
  // A host calling at the wrong moment can send thousands; say it a few times.
  if (++IgnoredBytes <= 3)
    Log(std::string(StageName()) + " ignores " + Hex2(byte));
  else if (IgnoredBytes == 4)
    Log(std::string(StageName()) + " ignores more bytes (not traced)");
}

void HandsetCore::HostOpened(SimTime now) {
  Now = now;
  LastActivity = now;
  if (RunActive)
    EndRun(RunOutcome::HostClosed);
  Queue.Clear();
  ResetToBoot();
  PowerOnAt = now;
  SeesHostSessions = true;
  // A swap under way counts from the host's return to the line: a host
  // slow to come back after a run would otherwise meet the next unit first,
  // before it had heard the line go quiet, and take it for the one it had
  // just flashed.
  if (SwapEndsAt)
    SwapEndsAt = now + Ms(Options.SwapAfterRunMs);
  Log("host opened the line");
}

void HandsetCore::HostClosed(SimTime now) {
  Now = now;
  LastActivity = now;
  Queue.Clear();
  if (RunActive)
    EndRun(Current == Stage::Halted ? HaltOutcome : RunOutcome::HostClosed);
  ResetToBoot();
  PowerOnAt.reset();
  Log("host closed the line");
}

bool HandsetCore::AtMessageStart() const {
  switch (Current) {
  case Stage::BootCall:
  case Stage::BootHeader:
  case Stage::Halted: return true; // every byte stands alone
  default: return MsgPos == 0;
  }
}

void HandsetCore::StartMessage(const HostLine &host) {
  MsgHost = host;
  if (Current == Stage::Halted)
    return;
  if (Current == Stage::Speed) {
    Intact = true; // checked when complete: the host may already have switched
    return;
  }
  bool boot = Current == Stage::BootCall || Current == Stage::BootHeader;
  uint32_t expected = boot ? BootRate : Rate;
  Intact = LineAgrees(host, expected);
  if (Intact) {
    GarbleLogged = false;
  } else if (!GarbleLogged) {
    GarbleLogged = true;
    Log("line: host at " + DescribeHostLine(host) + ", handset at " + std::to_string(expected) +
        " 8N2: bytes arrive garbled");
  }
}

// Counts host bytes from the RAM program header on; false once the
// --disconnect-after limit is reached and the line must go.
bool HandsetCore::CountHostBytes(size_t count) {
  if (!Counting)
    return true;
  Summary.HostBytes += count;
  if (Options.CutAfterBytes && Summary.HostBytes >= Options.CutAfterBytes &&
      Current != Stage::Halted) {
    Log("line dead after " + std::to_string(Summary.HostBytes) + " host bytes");
    Queue.Clear();
    Arm.reset();
    Halt(RunOutcome::Disconnected);
    return false;
  }
  if (Options.DisconnectAfterBytes == 0 || Summary.HostBytes < Options.DisconnectAfterBytes)
    return true;
  Log("cable pulled after " + std::to_string(Summary.HostBytes) + " host bytes");
  Disconnect = true;
  Queue.Clear();
  EndRun(RunOutcome::Disconnected);
  return false;
}

void HandsetCore::Receive(const uint8_t *data, size_t length, const HostLine &host, SimTime now) {
  Now = std::max(Now, now);
  LastActivity = Now;
  size_t i = 0;
  while (i < length && !Disconnect) {
    if (Current == Stage::Emulated) {
      ReceiveEmulated(data, length, host, i);
      continue;
    }
    if (AtMessageStart())
      StartMessage(host);
    if (Current == Stage::Halted) {
      size_t rest = length - i;
      if (Counting && Options.DisconnectAfterBytes)
        rest = std::min<uint64_t>(rest, Options.DisconnectAfterBytes - Summary.HostBytes);
      i += rest;
      CountHostBytes(rest);
      continue;
    }
    if (Current == Stage::Frame && MsgPos >= 8 && Intact) {
      size_t taken = TakeFrameData(data + i, length - i);
      i += taken;
      if (!CountHostBytes(taken))
        return;
      if (size_t(MsgPos - 8) == FrameLength)
        HandleBlock();
      continue;
    }
    uint8_t byte = Intact ? data[i] : GarbleByte(data[i]);
    ++i;
    Dispatch(byte);
    if (!CountHostBytes(1))
      return;
  }
}

// Frame data in bulk: copied into the receive buffer and summed.
size_t HandsetCore::TakeFrameData(const uint8_t *data, size_t length) {
  size_t have = MsgPos - 8;
  size_t take = std::min(length, size_t(FrameLength) - have);
  if (Counting && Options.DisconnectAfterBytes)
    take = std::min<uint64_t>(take, Options.DisconnectAfterBytes - Summary.HostBytes);
  uint16_t sum = RunningSum;
  for (size_t j = 0; j < take; ++j) {
    sum = uint16_t(sum + data[j]);
    if (have + j < BlockSize)
      FrameData[have + j] = data[j];
  }
  RunningSum = sum;
  MsgPos += take;
  return take;
}

void HandsetCore::Dispatch(uint8_t byte) {
  switch (Current) {
  case Stage::BootCall: OnBootCall(byte); break;
  case Stage::BootHeader: OnBootHeader(byte); break;
  case Stage::BootLoad: OnBootLoad(byte); break;
  case Stage::Speed: OnSpeed(byte); break;
  case Stage::Id: OnId(byte); break;
  case Stage::MapCommand: OnMapCommand(byte); break;
  case Stage::Map: OnMap(byte); break;
  case Stage::FlashType: OnFlashType(byte); break;
  case Stage::StartHeader: OnStartHeader(byte); break;
  case Stage::Frame: OnFrame(byte); break;
  case Stage::Emulated:
  case Stage::Halted: break;
  }
}

void HandsetCore::Advance(SimTime now) {
  Now = std::max(Now, now);
  PollEmulated();
  if (PullHungUnit())
    return;
  uint32_t idleMs = Options.IdleResetMs.value_or(0);
  if (idleMs == 0 || Current == Stage::BootCall || !Queue.Empty())
    return;
  if (Arm && Current == Stage::Emulated && !Arm->AwaitingHost())
    return; // the program is at work, not waiting for anyone
  if (Now - LastActivity < Ms(idleMs))
    return;
  Log("nothing for " + std::to_string(idleMs) + " ms: reset to the boot ROM");
  if (RunActive)
    EndRun(Current == Stage::Halted ? HaltOutcome : RunOutcome::IdleReset);
  ResetToBoot();
  PowerOnAt.reset();
}

// A hung unit stays on the line until the operator takes it off, whether or
// not it got as far as beginning a run.
bool HandsetCore::PullHungUnit() {
  if (Current != Stage::Halted || Options.PullHungUnitMs == 0 || Options.SwapAfterRunMs == 0 ||
      Now - HaltedAt < Ms(Options.PullHungUnitMs))
    return false;
  Log("the unit that stopped answering is taken off the line");
  Queue.Clear();
  if (RunActive) {
    EndRun(HaltOutcome);
    return true;
  }
  SwapEndsAt = Now + Ms(Options.SwapAfterRunMs);
  SwapLogged = false;
  ResetToBoot();
  DrawNextUnit();
  return true;
}

// With faults drawn per unit, the unit that comes next on the line (or, with
// no swaps, the next run) has its own.
void HandsetCore::DrawNextUnit() {
  if (!FaultDraw)
    return;
  std::string fault;
  Options = FaultDraw->Next(Base, fault);
  FlashPart.FailErase(int(Options.EraseFailSegment) - 1);
  FlashPart.FailPrograms(0, 0);
  Log(fault.empty() ? std::string("the next unit is good") : "the next unit is faulty: " + fault);
}

std::optional<SimTime> HandsetCore::NextWakeup() const {
  std::optional<SimTime> next = Queue.NextDue();
  if (Current == Stage::Halted && Options.PullHungUnitMs && Options.SwapAfterRunMs) {
    SimTime pull = HaltedAt + Ms(Options.PullHungUnitMs);
    if (!next || pull < *next)
      next = pull;
  }
  uint32_t idleMs = Options.IdleResetMs.value_or(0);
  if (idleMs && Current != Stage::BootCall && Queue.Empty()) {
    SimTime reset = LastActivity + Ms(idleMs);
    if (!next || reset < *next)
      next = reset;
  }
  return next;
}

void HandsetCore::TakeOutput(SimTime now, const HostLine &host, std::vector<uint8_t> &out) {
  Now = std::max(Now, now);
  std::vector<OutByte> items;
  Queue.TakeDue(Now, items);
  bool logged = false;
  for (const OutByte &item : items) {
    if (LineAgrees(host, item.Rate)) {
      out.push_back(item.Value);
      continue;
    }
    if (!logged) {
      logged = true;
      Log("line: host at " + DescribeHostLine(host) + ", handset sends at " +
          std::to_string(item.Rate) + " 8N2: the host reads garbage");
    }
    out.push_back(GarbleByte(item.Value));
  }
}

void HandsetCore::OutputWritten(SimTime now) {
  Now = std::max(Now, now);
  LastActivity = Now;
  Queue.Written(Now);
}

void HandsetCore::Send(uint8_t byte, SimTime at, const char *what) {
  Queue.Push(byte, Rate, std::max(at, Now));
  if (what)
    Log(std::string("send ") + Hex2(byte) + " (" + what + ")");
}

void HandsetCore::BeginRun() {
  RunActive = true;
  Summary = RunSummary{};
  Counting = false;
  StrayCalls = 0;
  Driver.ResetErrors();
  if (Options.ProgramError)
    FlashPart.FailPrograms(Options.ProgramErrorAddress, Options.ProgramErrorCount);
  NakLeft = Options.NakTimes;
  // Run numbers count from 1: the completed runs and this one.
  const bool eraseFails = Options.EraseFailSegment >= 1 &&
                          (Options.EraseFailRun == 0 || Completed.size() + 1 == Options.EraseFailRun);
  FlashPart.FailErase(eraseFails ? int(Options.EraseFailSegment) - 1 : -1);
  Erased = false;
  BlocksGood = 0;
  FramesSeen = 0;
  FlashFreeAt = Now;
}

void HandsetCore::EndRun(RunOutcome outcome) {
  if (RunActive) {
    Summary.Outcome = outcome;
    Summary.Failures = Driver.Failures();
    Summary.FailureStatus = Driver.FirstFailureStatus();
    if (Arm)
      Arm->Fill(Summary);
    Completed.push_back(Summary);
    RunActive = false;
    Log(std::string("run ended: ") + OutcomeName(outcome));
    DrawNextUnit();
    if (Options.SwapAfterRunMs > 0) {
      SwapEndsAt = Now + Ms(Options.SwapAfterRunMs);
      SwapLogged = false;
    }
  }
  // Without opens to go by, the next run's first call powers the handset on.
  if (!SeesHostSessions)
    PowerOnAt.reset();
  ResetToBoot();
}

void HandsetCore::ResetToBoot() {
  Arm.reset(); // stops the emulated core
  Current = Stage::BootCall;
  Rate = BootRate;
  MsgPos = 0;
  Counting = false;
  IgnoredBytes = 0;
  PowerOnLogged = false;
}

bool HandsetCore::Silenced(Phase phase) {
  if (Options.SilentAfter != phase)
    return false;
  Log(std::string("falls silent at phase ") + PhaseName(phase));
  Halt(RunOutcome::Silenced);
  return true;
}

void HandsetCore::Halt(RunOutcome outcome) {
  Current = Stage::Halted;
  HaltedAt = Now;
  HaltOutcome = outcome;
  MsgPos = 0;
}

} // namespace kestrune::handset
