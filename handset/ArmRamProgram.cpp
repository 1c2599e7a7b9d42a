#include "handset/ArmRamProgram.h"

#include "handset/HandsetCore.h"

namespace kestrune::handset {
namespace {

constexpr uint32_t BootRate = 28800;
// The gap the RAM program leaves between identification bytes, by its timer
// (ID_BYTE_GAP_MICROS in ramprogram/Handshake.c).
constexpr SimTime ProgramIdGap = Ms(110);
// The line speed message: the first bytes the program reads. It is due at
// the boot rate, but the host switches right after sending it and a pseudo-
// terminal hands bytes over late, so the setting seen then proves nothing.
constexpr uint64_t SpeedMessageLength = 6;

arm::UartLine ToUartLine(const HostLine &host) {
  arm::UartLine line;
  line.Rate = host.Rate;
  line.DataBits = host.DataBits;
  line.StopBits = host.StopBits;
  line.Parity = host.Parity ? arm::Parity::Even : arm::Parity::None;
  return line;
}

} // namespace

ArmRamProgram::ArmRamProgram(NorFlash &flash, const HandsetOptions &options,
                             std::function<void()> wake)
    : Bus(flash, options.Timing), Watcher(options), Wake(std::move(wake)) {
  arm::CoreOptions coreOptions;
  coreOptions.HangTimeout = std::chrono::milliseconds(options.CoreHangMs);
  // The program's pauses follow the handset's identification gap, which
  // sanitizer builds widen for their slow host.
  coreOptions.TimerSpeed = double(ProgramIdGap.count()) / double(HandsetCore::IdGap.count());
  Core = std::make_unique<arm::ArmCore>(
      Bus,
      [this](uint8_t byte, const arm::UartLine &line) {
        {
          std::lock_guard guard(Lock);
          Waiting.push_back({byte, line.DataBits == 8 && line.StopBits == 2 &&
                                           line.Parity == arm::Parity::None
                                       ? line.Rate
                                       : 0}); // another framing: no host reads it
        }
        if (Wake)
          Wake();
      },
      coreOptions);
  // A handset on a real device sets its port when the program switches.
  Core->OnLineChange([this](const arm::UartLine &) {
    if (Wake)
      Wake();
  });
}

ArmRamProgram::~ArmRamProgram() { Core->Stop(); }

std::optional<std::string> ArmRamProgram::Start(const std::vector<uint8_t> &image,
                                                uint32_t address) {
  arm::UartLine boot;
  boot.Rate = BootRate;
  return Core->Start(image, address, boot, [this](const arm::CoreEnd &) {
    if (Wake)
      Wake();
  });
}

std::optional<arm::UartLine> ArmRamProgram::TagFor(const HostLine &host,
                                                   size_t messageByte) const {
  if (!host.Known)
    return std::nullopt; // a real line garbles by itself
  if (messageByte < SpeedMessageLength && host.DataBits == 8 && host.StopBits == 2 && !host.Parity)
    return std::nullopt;
  return ToUartLine(host);
}

size_t ArmRamProgram::FromHost(const uint8_t *data, size_t length, const HostLine &host) {
  if (Watcher.Silent())
    return 0;
  std::vector<uint8_t> bytes(data, data + length);
  size_t taken = 0;
  size_t sent = 0;
  // Runs of bytes with the same tag go to the UART together.
  auto flush = [&](size_t end) {
    if (end > sent)
      Core->FromHost(std::span(bytes).subspan(sent, end - sent), TagFor(host, size_t(HostBytes)));
    HostBytes += end - sent;
    sent = end;
  };
  for (; taken < length; ++taken) {
    ExchangeWatcher::HostStep step = Watcher.OnHostByte(bytes[taken]);
    if (step.Withhold)
      break;
    if (step.Corrupt)
      bytes[taken] ^= 0xFF;
    if (HostBytes + (taken - sent) < SpeedMessageLength)
      flush(taken + 1); // one at a time: their tags differ from what follows
  }
  flush(taken);
  if (Watcher.SilenceStopsProgram())
    Core->Stop();
  return taken;
}

void ArmRamProgram::TakeAnswers(std::vector<Answer> &out) {
  bool coreDone = !Core->Running();
  std::vector<Answer> answers;
  {
    std::lock_guard guard(Lock);
    answers.swap(Waiting);
  }
  for (const Answer &answer : answers) {
    auto byte = Watcher.OnAnswer(answer.Value);
    if (!byte)
      continue;
    if (Watcher.RunEnding())
      Held.push_back({*byte, answer.Rate});
    else
      out.push_back({*byte, answer.Rate});
  }
  if (coreDone) {
    out.insert(out.end(), Held.begin(), Held.end());
    Held.clear();
  }
}

bool ArmRamProgram::Ended() {
  if (Core->Running() || !Held.empty())
    return false;
  std::lock_guard guard(Lock);
  return Waiting.empty();
}

void ArmRamProgram::Fill(RunSummary &summary) const {
  Watcher.Fill(summary);
  summary.LineRate = Core->Line().Rate;
  arm::CoreStats stats = Core->Stats();
  summary.CoreCpu = stats.CpuTime;
  summary.CoreAsleep = stats.SleepTime;
  if (Watcher.RecordGiven())
    return;
  // No record on the line (a failed erase ends the run without one): the
  // part's own account.
  summary.Failures = Bus.Failures();
  summary.FailureStatus = Bus.FirstFailureStatus();
}

} // namespace kestrune::handset
