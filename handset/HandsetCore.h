// The handset's protocol, without any I/O: host bytes go in with the host's
// line settings and the time, scheduled answer bytes come out. The boot ROM
// and the RAM program (modelled in host code) are one state machine over
// the stages of a run. Everything is driven by the caller's clock, so the
// same core serves a pseudo-terminal, a serial device, the tests and the
// fuzzer.
//
// The line model lives here because it needs the protocol: the host's
// settings are checked when each message starts to arrive, against the rate
// at which that message must come.
#pragma once

#include "engine/WireBytes.h"
#include "handset/ArmRamProgram.h"
#include "handset/FlashDriver.h"
#include "handset/HandsetOptions.h"
#include "handset/LineModel.h"
#include "handset/NorFlash.h"
#include "handset/OutputQueue.h"
#include "handset/RunSummary.h"
#include "handset/Trace.h"
#include "handset/UnitFaults.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace kestrune::handset {

class HandsetCore {
public:
  static constexpr uint32_t BootRate = 28800;
  static constexpr uint32_t RamBase = 0x40000000;
  static constexpr uint32_t RamSize = 256 * 1024;
  static constexpr uint32_t BlockSize = ProgramBlockSize;
  // The host reads each identification byte with a 41 ms data wait; the gap
  // leaves room for a host thread that is scheduled late. Sanitizer builds
  // run many times slower, so they get a wider margin.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
  static constexpr SimTime IdGap = Ms(300);
#else
  static constexpr SimTime IdGap = Ms(110);
#endif

  HandsetCore(const HandsetOptions &options, Trace &trace);

  // The host opened or closed its end (pseudo-terminals only).
  void HostOpened(SimTime now);
  void HostClosed(SimTime now);
  // Bytes that arrived from the host, with its line settings at arrival.
  void Receive(const uint8_t *data, size_t length, const HostLine &host, SimTime now);
  // Time passed without bytes (idle reset).
  void Advance(SimTime now);
  // Bytes to put on the line now; garbled if the host disagrees with the
  // rate they were sent at.
  void TakeOutput(SimTime now, const HostLine &host, std::vector<uint8_t> &out);
  void OutputWritten(SimTime now);
  // When Advance or TakeOutput next has something to do.
  std::optional<SimTime> NextWakeup() const;
  // Called from other threads when the emulated core has answers waiting
  // or has ended: the caller's loop should then Advance.
  void SetWakeup(std::function<void()> wake) { Wakeup = std::move(wake); }

  uint32_t LineRate() const { return Rate; }
  bool OutputPending() const { return !Queue.Empty(); }
  bool DisconnectRequested() const { return Disconnect; }
  bool InBootRom() const { return Current == Stage::BootCall; }
  const char *StageName() const;
  const std::vector<RunSummary> &Runs() const { return Completed; }
  const NorFlash &Flash() const { return FlashPart; }

private:
  enum class Stage : uint8_t {
    BootCall,   // waiting for "E"
    BootHeader, // "C" sent: skipping stray bytes until 0x6A
    BootLoad,   // the 13-byte header, then the image
    Speed,
    Id,
    MapCommand,
    Map,
    FlashType,
    StartHeader,
    Frame,      // 8-byte frame header, then the data
    Emulated,   // the real RAM program runs on the emulated core
    Halted,     // silent: drains the line until the host closes or a reset
  };

  struct HeldBlock {
    uint32_t Offset = 0;
    std::vector<uint8_t> Data;
  };

  // Receiving.
  bool AtMessageStart() const;
  void StartMessage(const HostLine &host);
  bool CountHostBytes(size_t count);
  size_t TakeFrameData(const uint8_t *data, size_t length);
  void Dispatch(uint8_t byte);
  void Log(const std::string &text);
  void LogIgnored(uint8_t byte);

  // Boot ROM (BootRom.cpp).
  void OnBootCall(uint8_t byte);
  bool SwapUnderway();
  void OnBootHeader(uint8_t byte);
  void OnBootLoad(uint8_t byte);
  void StartRamProgram();

  // RAM program configuration (RamConfig.cpp).
  bool Collect(uint8_t byte, size_t length);
  void OnSpeed(uint8_t byte);
  void OnId(uint8_t byte);
  void OnMapCommand(uint8_t byte);
  void OnMap(uint8_t byte);
  void OnFlashType(uint8_t byte);

  // The RAM program on the emulated core (HandsetEmulated.cpp).
  void StartEmulated();
  void ReceiveEmulated(const uint8_t *data, size_t length, const HostLine &host, size_t &i);
  void PollEmulated();

  // Programming exchange (RamFlashing.cpp).
  void OnStartHeader(uint8_t byte);
  void OnFrame(uint8_t byte);
  void FrameHeaderDone();
  void HandleBlock();
  bool EraseWithReport();
  bool EraseSilently();
  bool KeepsSegment(uint32_t segment) const;
  std::string KeptText() const;
  void ProgramHeld();
  void ProgramData(uint32_t offset, const uint8_t *data, uint32_t length);
  void SendVerdict();
  void SendRecord(SimTime at);

  // Runs.
  void Send(uint8_t byte, SimTime at, const char *what = nullptr);
  void BeginRun();
  void EndRun(RunOutcome outcome);
  void ResetToBoot();
  bool Silenced(Phase phase);
  bool PullHungUnit();
  void DrawNextUnit();
  void Halt(RunOutcome outcome);

  // The handset's options as given, and those of the unit now on the line
  // (the same unless faults are drawn per unit).
  const HandsetOptions Base;
  HandsetOptions Options;
  std::optional<UnitFaults> FaultDraw;
  SimTime HaltedAt{};
  Trace &Log_;
  NorFlash FlashPart;
  FlashDriver Driver{FlashPart};
  OutputQueue Queue;

  Stage Current = Stage::BootCall;
  uint32_t Rate = BootRate;
  SimTime Now{};
  SimTime LastActivity{};
  std::optional<SimTime> PowerOnAt;
  bool SeesHostSessions = false; // a pseudo-terminal: opens and closes are reported
  bool PowerOnLogged = false;
  std::optional<SimTime> SwapEndsAt; // no unit on the line until then
  bool SwapLogged = false;

  // The message being received.
  std::vector<uint8_t> Msg;
  size_t MsgPos = 0;
  bool Intact = true;
  HostLine MsgHost;
  bool GarbleLogged = false;
  uint32_t IgnoredBytes = 0;

  // The run.
  bool RunActive = false;
  RunSummary Summary;
  RunOutcome HaltOutcome = RunOutcome::Silenced;
  bool Counting = false;
  bool Disconnect = false;
  uint32_t StrayCalls = 0;
  std::vector<uint8_t> Image;
  uint32_t ImageAddress = 0;
  uint32_t ImageLength = 0;
  uint16_t MapCount = 0;
  uint32_t MapBytes = 0;
  bool MapOk = true;

  // Programming.
  uint32_t BlocksAnnounced = 0;
  uint32_t BlocksGood = 0;
  uint32_t FramesSeen = 0;
  uint32_t NakLeft = 0;
  bool Erased = false;
  SimTime FlashFreeAt{};
  uint16_t FrameLength = 0;
  uint16_t FrameSum = 0;
  uint32_t FrameOffset = 0;
  uint16_t RunningSum = 0;
  std::vector<uint8_t> FrameData;
  std::array<HeldBlock, 2> Held;

  std::vector<RunSummary> Completed;

  std::function<void()> Wakeup;
  std::unique_ptr<ArmRamProgram> Arm; // while the emulated core's run lasts
};

} // namespace kestrune::handset
