// The reference handset's processor, emulated: an ARM926-class core
// (ARMv5TE) with 256 KiB of internal RAM, the NOR flash, the UART, the
// microsecond timer and the system controller mapped as in
// handset/arm/ReferenceHandset.h. The boot ROM model loads a program into
// RAM and starts the core; the core runs on a thread of its own until the
// program jumps back to the boot ROM, the core is stopped, or it faults.
//
// A watchdog reports a program that stops answering: one that has touched
// none of its devices for the hang time-out without being asleep, or that
// sleeps waiting for nothing. Stop() always ends the run promptly.
//
// The core runs in one emulation call until it ends; the watchdog, a thread
// that wakes a few times per hang time-out, and Stop() end it from outside,
// again until it has ended. (Slices by instruction count would make the
// emulator call back on every instruction, slices by time start a timer
// thread per slice.) A sleeping program waits on a condition variable
// inside its device access, so an idle core costs nothing.
#pragma once

#include "handset/arm/FlashBus.h"
#include "handset/arm/Uart.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

struct uc_struct;

namespace kestrune::arm {

struct CoreOptions {
  std::chrono::milliseconds HangTimeout{2000};
  // Microseconds the timer counts per real microsecond. Above 1 the
  // program's own waits (the paced identification bytes) shrink alike;
  // the host's waits do not, so only tests that drive the core directly
  // may speed it up. Below 1 they stretch (a host slowed down by a
  // sanitizer needs wider gaps).
  double TimerSpeed = 1.0;
};

enum class CoreState {
  NotStarted,
  Running,
  ReturnedToBootRom, // the program jumped to the boot ROM's entry
  Stopped,           // Stop() ended it
  Faulted,           // it stopped answering: crashed, hung or slept for ever
};

struct CoreEnd {
  CoreState State = CoreState::NotStarted;
  // For a fault: "emulated core stopped answering (...)" with the reason.
  std::string Text;
};

struct CoreStats {
  std::chrono::nanoseconds CpuTime{0};   // of the core's thread
  std::chrono::nanoseconds WallTime{0};  // from start to end
  std::chrono::nanoseconds SleepTime{0}; // asleep on the system controller
  std::chrono::nanoseconds SinkTime{0};  // inside the sink, handing bytes over
  uint64_t DeviceAccesses = 0;
  uint64_t BytesIn = 0;
  uint64_t BytesOut = 0;
};

class ArmCore {
public:
  using EndHandler = std::function<void(const CoreEnd &)>;

  // The flash outlives cores: one handset keeps its flash across runs.
  ArmCore(FlashBus &flash, Uart::Sink toHost, CoreOptions options = {});
  ~ArmCore();
  ArmCore(const ArmCore &) = delete;
  ArmCore &operator=(const ArmCore &) = delete;

  // Places image in RAM at address, sets the UART to bootLine and starts
  // the core there in ARM state, supervisor mode. onEnd runs on the core's
  // thread when the run ends. Returns an error text when it cannot start.
  std::optional<std::string> Start(std::span<const uint8_t> image, uint32_t address,
                                   const UartLine &bootLine, EndHandler onEnd = {});

  // Host side of the UART (any thread, never blocks). Without a line the
  // bytes pass whatever the UART is set to (a real line, which garbles by
  // itself).
  void FromHost(std::span<const uint8_t> bytes, const std::optional<UartLine> &sentWith) {
    Serial.Receive(bytes, sentWith);
  }
  UartLine Line() const { return Serial.Line(); }
  // Called on the core's thread when the program sets another line; set
  // before Start.
  void OnLineChange(std::function<void(const UartLine &)> changed) {
    Serial.OnLineChange(std::move(changed));
  }
  // Asleep until the host sends something, with nothing else to wake it.
  bool AwaitingHost() const { return WaitingForHostOnly; }

  bool Running() const;
  // False when the run has not ended within the time-out.
  bool WaitUntilEnded(std::chrono::milliseconds timeout);
  CoreEnd End() const;
  // Ends the run (the line was closed, the handset switched off) and waits
  // for the core's threads.
  void Stop();

  CoreStats Stats() const;
  // Internal RAM; read it only once the run has ended.
  std::span<const uint8_t> Ram() const { return RamBytes; }

private:
  bool MapMemory(std::string &error);
  void RunCore(uint32_t entry);
  void Watch();
  void Finish(CoreState state, std::string text);
  void RequestEmulatorStop();

  uint32_t TimerNow() const;
  Clock::time_point AlarmTime() const;
  void SleepUntilEvent(uint32_t mask);

  static uint64_t ReadFlash(uc_struct *uc, uint64_t offset, unsigned size, void *self);
  static void WriteFlash(uc_struct *uc, uint64_t offset, unsigned size, uint64_t value, void *self);
  static uint64_t ReadDevice(uc_struct *uc, uint64_t offset, unsigned size, void *self);
  static void WriteDevice(uc_struct *uc, uint64_t offset, unsigned size, uint64_t value,
                          void *self);

  FlashBus &Flash;
  CoreOptions Options;
  uc_struct *Engine = nullptr;
  std::vector<uint8_t> RamBytes;

  // Guards the UART's FIFO, the state below and the sleeping core.
  mutable std::mutex Lock;
  std::condition_variable Wake;
  Uart Serial;

  std::thread CoreThread;
  std::thread WatchThread;
  EndHandler OnEnd;
  CoreState State = CoreState::NotStarted;
  std::string EndText;
  bool StopWanted = false;
  std::string FaultReason; // set by the watchdog or a device before it stops the core
  bool FaultInDevice = false;

  Clock::time_point StartTime;
  uint32_t Alarm = 0;
  std::atomic<uint64_t> Accesses{0};
  std::atomic<bool> Asleep{false};
  std::atomic<bool> WaitingForHostOnly{false};
  std::chrono::nanoseconds SinkTotal{0}; // the core's thread only
  CoreStats Figures;
};

} // namespace kestrune::arm
