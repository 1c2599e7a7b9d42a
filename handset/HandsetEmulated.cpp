// The handset running the real RAM program: the boot ROM hands the image to
// the emulated ARM core, host bytes go to its UART, its answers come back
// through the output queue, and the run ends when the program jumps back to
// the boot ROM (or the core stops answering).
#include "handset/HandsetCore.h"

#include <cstdio>

namespace kestrune::handset {

void HandsetCore::StartEmulated() {
  Arm = std::make_unique<ArmRamProgram>(FlashPart, Options, Wakeup);
  std::vector<uint8_t> program = Image;
  if (Options.CorruptRam && Options.CorruptRam->Offset + 4 <= program.size()) {
    for (uint32_t i = 0; i < 4; ++i)
      program[Options.CorruptRam->Offset + i] = uint8_t(Options.CorruptRam->Word >> (8 * i));
    Log("RAM corrupted at 0x" + Hex8(ImageAddress + Options.CorruptRam->Offset) + ": " +
        Hex8(Options.CorruptRam->Word));
  }
  if (auto error = Arm->Start(program, ImageAddress)) {
    Log("the emulated core cannot start: " + *error);
    std::fprintf(stderr, "kestrune-handset: %s\n", error->c_str());
    Arm.reset();
    Halt(RunOutcome::CoreStopped);
    return;
  }
  Log("the RAM program runs on the emulated ARM core");
  Current = Stage::Emulated;
}

void HandsetCore::ReceiveEmulated(const uint8_t *data, size_t length, const HostLine &host,
                                  size_t &i) {
  size_t rest = length - i;
  if (Counting && Options.DisconnectAfterBytes)
    rest = std::min<uint64_t>(rest, Options.DisconnectAfterBytes - Summary.HostBytes);
  size_t taken = Arm->FromHost(data + i, rest, host);
  i += taken;
  for (const std::string &note : Arm->TakeNotes())
    Log(note);
  if (!CountHostBytes(taken))
    return;
  if (taken < rest)
    Halt(RunOutcome::Silenced); // what follows is drained
}

void HandsetCore::PollEmulated() {
  if (!Arm)
    return;
  std::vector<ArmRamProgram::Answer> answers;
  Arm->TakeAnswers(answers);
  for (const ArmRamProgram::Answer &answer : answers)
    Queue.Push(answer.Value, answer.Rate, Now);
  if (!answers.empty()) {
    LastActivity = Now;
    Log("send " + std::to_string(answers.size()) + " byte(s) from the RAM program, last " +
        Hex2(answers.back().Value));
  }
  for (const std::string &note : Arm->TakeNotes())
    Log(note);
  if (Current != Stage::Emulated)
    return;
  Rate = Arm->LineRate();
  if (!Arm->Ended())
    return;
  arm::CoreEnd end = Arm->End();
  if (end.State == arm::CoreState::Faulted) {
    Log(end.Text);
    std::fprintf(stderr, "kestrune-handset: %s\n", end.Text.c_str());
    Halt(RunOutcome::CoreStopped);
    return;
  }
  if (Arm->Silent()) {
    Halt(RunOutcome::Silenced);
    return;
  }
  Log("the RAM program returned to the boot ROM");
  EndRun(Arm->Outcome());
}

} // namespace kestrune::handset
