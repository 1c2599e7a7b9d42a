#include "handset/arm/ArmCore.h"

#include "handset/arm/ReferenceHandset.h"

#include <sys/resource.h>
#include <unicorn/unicorn.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace kestrune::arm {
namespace {

constexpr uint32_t SupervisorModeNoInterrupts = 0xD3;
constexpr uint32_t BranchToSelf = 0xEAFFFFFE; // "b ." in ARM state
constexpr uint32_t BootRomPage = 0x1000;
constexpr uint32_t UartWindow = RH_UART_BASE - RH_PERIPH_BASE;
constexpr uint32_t TimerWindow = RH_TIMER_BASE - RH_PERIPH_BASE;
constexpr uint32_t SystemWindow = RH_SYS_BASE - RH_PERIPH_BASE;
constexpr uint32_t WindowSize = 0x1000;
constexpr uint32_t AllWakeEvents = RH_WAKE_RX | RH_WAKE_TIMER | RH_WAKE_FLASH;

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

std::chrono::nanoseconds ThreadCpuTime() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

// Emulation is background work next to the line: the threads that serve a
// pseudo-terminal must get the processor within milliseconds (the host
// purges its port 10 ms after the speed message, taking back what the
// handset has not read by then), so the core gives way to them.
void YieldToLineThreads() {
  constexpr int EmulatorNice = 10;
  setpriority(PRIO_PROCESS, 0, EmulatorNice); // Linux: this thread only
}

std::string StoppedAnswering(const std::string &reason) {
  return "emulated core stopped answering (" + reason + ")";
}

} // namespace

ArmCore::ArmCore(FlashBus &flash, Uart::Sink toHost, CoreOptions options)
    : Flash(flash), Options(options), RamBytes(RH_RAM_SIZE, 0), Serial(std::move(toHost), Lock, Wake) {
  if (!(Options.TimerSpeed > 0.0))
    Options.TimerSpeed = 1.0;
}

ArmCore::~ArmCore() {
  Stop();
  if (Engine)
    uc_close(Engine);
}

bool ArmCore::MapMemory(std::string &error) {
  auto check = [&](uc_err result, const char *what) {
    if (result == UC_ERR_OK)
      return true;
    error = std::string("cannot set up the emulated core: ") + what + ": " + uc_strerror(result);
    return false;
  };
  if (!check(uc_open(UC_ARCH_ARM, UC_MODE_ARM, &Engine), "open"))
    return false;
  if (!check(uc_ctl_set_cpu_model(Engine, UC_CPU_ARM_926), "processor model"))
    return false;
  if (!check(uc_mem_map_ptr(Engine, RH_RAM_BASE, RH_RAM_SIZE, UC_PROT_ALL, RamBytes.data()),
             "internal RAM"))
    return false;
  if (!check(uc_mmio_map(Engine, RH_FLASH_BASE, RH_FLASH_SIZE, ReadFlash, this, WriteFlash, this),
             "flash"))
    return false;
  if (!check(uc_mmio_map(Engine, RH_PERIPH_BASE, RH_PERIPH_SIZE, ReadDevice, this, WriteDevice,
                         this),
             "devices"))
    return false;
  // The boot ROM itself is host code; its page only has to exist. Should
  // the jump to it ever not end the run, the core spins there and the
  // watchdog reports it.
  if (!check(uc_mem_map(Engine, RH_BOOT_ROM_BASE, BootRomPage, UC_PROT_READ | UC_PROT_EXEC),
             "boot ROM"))
    return false;
  std::vector<uint32_t> loop(BootRomPage / 4, BranchToSelf);
  if (!check(uc_mem_write(Engine, RH_BOOT_ROM_BASE, loop.data(), BootRomPage), "boot ROM"))
    return false;
  uint32_t cpsr = SupervisorModeNoInterrupts;
  uint32_t lr = RH_BOOT_ROM_ENTRY;
  return check(uc_reg_write(Engine, UC_ARM_REG_CPSR, &cpsr), "status register") &&
         check(uc_reg_write(Engine, UC_ARM_REG_LR, &lr), "link register");
}

std::optional<std::string> ArmCore::Start(std::span<const uint8_t> image, uint32_t address,
                                          const UartLine &bootLine, EndHandler onEnd) {
  if (End().State != CoreState::NotStarted)
    return "the emulated core has already run";
  if (address < RH_RAM_BASE || address - RH_RAM_BASE > RH_RAM_SIZE ||
      image.size() > RH_RAM_SIZE - (address - RH_RAM_BASE))
    return "the program does not fit internal RAM at " + Hex(address);
  std::copy(image.begin(), image.end(), RamBytes.begin() + (address - RH_RAM_BASE));
  std::string error;
  if (!MapMemory(error))
    return error;
  Serial.Configure(bootLine);
  Flash.Reset();
  OnEnd = std::move(onEnd);
  StartTime = Clock::now();
  {
    std::lock_guard guard(Lock);
    State = CoreState::Running;
  }
  CoreThread = std::thread([this, address] { RunCore(address); });
  WatchThread = std::thread([this] { Watch(); });
  return std::nullopt;
}

void ArmCore::RunCore(uint32_t entry) {
  YieldToLineThreads();
  uc_err result = uc_emu_start(Engine, entry, RH_BOOT_ROM_ENTRY, 0, 0);
  uint32_t pc = 0;
  uc_reg_read(Engine, UC_ARM_REG_PC, &pc);
  CoreState state = CoreState::Faulted;
  std::string text;
  {
    std::lock_guard guard(Lock);
    // Inside a device access the emulator's program counter is only that
    // of the code block the access is part of: not worth showing then.
    if (!FaultReason.empty())
      text = StoppedAnswering(FaultInDevice ? FaultReason : FaultReason + ", at " + Hex(pc));
    else if (StopWanted)
      state = CoreState::Stopped;
    else if (result != UC_ERR_OK)
      text = StoppedAnswering(std::string(uc_strerror(result)) + ", at " + Hex(pc));
    else if (pc == RH_BOOT_ROM_ENTRY)
      state = CoreState::ReturnedToBootRom;
    else
      text = StoppedAnswering("halted at " + Hex(pc));
    Figures.CpuTime = ThreadCpuTime();
    Figures.WallTime = Clock::now() - StartTime;
    Figures.SinkTime = SinkTotal;
  }
  Finish(state, text);
}

void ArmCore::Finish(CoreState state, std::string text) {
  {
    std::lock_guard guard(Lock);
    State = state;
    EndText = std::move(text);
  }
  Wake.notify_all();
  if (OnEnd)
    OnEnd(End());
}

// Wakes up a few times per hang time-out: that is all it costs while the
// core runs well.
void ArmCore::Watch() {
  const auto period = std::clamp(Options.HangTimeout / 4, std::chrono::milliseconds(1),
                                 std::chrono::milliseconds(100));
  std::unique_lock lock(Lock);
  uint64_t seen = Accesses;
  auto quietSince = Clock::now();
  while (State == CoreState::Running) {
    Wake.wait_for(lock, period);
    if (State != CoreState::Running)
      return;
    if (StopWanted || !FaultReason.empty()) {
      // Repeated until the core has ended: a stop that reaches the
      // emulator just before it starts a new slice of code is otherwise lost.
      lock.unlock();
      uc_emu_stop(Engine);
      lock.lock();
      continue;
    }
    uint64_t now = Accesses;
    if (now != seen || Asleep) {
      seen = now;
      quietSince = Clock::now();
      continue;
    }
    if (Clock::now() - quietSince >= Options.HangTimeout)
      FaultReason = "no device access for " + std::to_string(Options.HangTimeout.count()) + " ms";
  }
}

void ArmCore::RequestEmulatorStop() { uc_emu_stop(Engine); }

bool ArmCore::Running() const {
  std::lock_guard guard(Lock);
  return State == CoreState::Running;
}

bool ArmCore::WaitUntilEnded(std::chrono::milliseconds timeout) {
  std::unique_lock lock(Lock);
  return Wake.wait_for(lock, timeout, [&] { return State != CoreState::Running; });
}

CoreEnd ArmCore::End() const {
  std::lock_guard guard(Lock);
  return {State, EndText};
}

void ArmCore::Stop() {
  bool running = false;
  {
    std::lock_guard guard(Lock);
    StopWanted = true;
    running = State == CoreState::Running;
  }
  Wake.notify_all();
  if (running)
    uc_emu_stop(Engine);
  if (CoreThread.joinable())
    CoreThread.join();
  if (WatchThread.joinable())
    WatchThread.join();
}

CoreStats ArmCore::Stats() const {
  std::lock_guard guard(Lock);
  CoreStats stats = Figures;
  stats.DeviceAccesses = Accesses;
  stats.BytesIn = Serial.BytesIn();
  stats.BytesOut = Serial.BytesOut();
  return stats;
}

uint32_t ArmCore::TimerNow() const {
  auto since = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - StartTime);
  return uint32_t(uint64_t(double(since.count()) * Options.TimerSpeed));
}

Clock::time_point ArmCore::AlarmTime() const {
  int32_t ahead = int32_t(Alarm - TimerNow());
  return Clock::now() + std::chrono::microseconds(int64_t(ahead / Options.TimerSpeed));
}

void ArmCore::SleepUntilEvent(uint32_t mask) {
  std::unique_lock lock(Lock);
  if ((mask & AllWakeEvents) == 0) {
    FaultReason = "asleep with no event to wake it";
    FaultInDevice = true;
    lock.unlock();
    RequestEmulatorStop();
    return;
  }
  auto deadline = Clock::time_point::max();
  if (mask & RH_WAKE_TIMER)
    deadline = std::min(deadline, AlarmTime());
  if (mask & RH_WAKE_FLASH)
    deadline = std::min(deadline, Flash.ReadyAt());
  const auto sleptAt = Clock::now();
  Asleep = true;
  WaitingForHostOnly = mask == RH_WAKE_RX;
  while (!StopWanted && !((mask & RH_WAKE_RX) && Serial.HasInputLocked()) &&
         Clock::now() < deadline) {
    if (deadline == Clock::time_point::max())
      Wake.wait(lock);
    else
      Wake.wait_until(lock, deadline);
  }
  Asleep = false;
  WaitingForHostOnly = false;
  Figures.SleepTime += Clock::now() - sleptAt;
  if (StopWanted) {
    lock.unlock();
    RequestEmulatorStop();
  }
}

uint64_t ArmCore::ReadFlash(uc_struct *, uint64_t offset, unsigned size, void *self) {
  auto &core = *static_cast<ArmCore *>(self);
  core.Accesses.fetch_add(1, std::memory_order_relaxed);
  auto now = core.Flash.NeedsClock() ? Clock::now() : Clock::time_point{};
  return core.Flash.Read(uint32_t(offset), size, now);
}

void ArmCore::WriteFlash(uc_struct *, uint64_t offset, unsigned, uint64_t value, void *self) {
  auto &core = *static_cast<ArmCore *>(self);
  core.Accesses.fetch_add(1, std::memory_order_relaxed);
  auto now = core.Flash.NeedsClock() ? Clock::now() : Clock::time_point{};
  core.Flash.Write(uint32_t(offset), uint32_t(value), now);
}

uint64_t ArmCore::ReadDevice(uc_struct *, uint64_t offset, unsigned, void *self) {
  auto &core = *static_cast<ArmCore *>(self);
  core.Accesses.fetch_add(1, std::memory_order_relaxed);
  uint32_t window = uint32_t(offset) & ~(WindowSize - 1);
  uint32_t reg = uint32_t(offset) & (WindowSize - 1);
  if (window == UartWindow)
    return core.Serial.ReadRegister(reg);
  if (window == TimerWindow) {
    if (reg == RH_TIMER_NOW - RH_TIMER_BASE)
      return core.TimerNow();
    if (reg == RH_TIMER_ALARM - RH_TIMER_BASE)
      return core.Alarm;
  }
  return 0;
}

void ArmCore::WriteDevice(uc_struct *, uint64_t offset, unsigned, uint64_t value, void *self) {
  auto &core = *static_cast<ArmCore *>(self);
  core.Accesses.fetch_add(1, std::memory_order_relaxed);
  uint32_t window = uint32_t(offset) & ~(WindowSize - 1);
  uint32_t reg = uint32_t(offset) & (WindowSize - 1);
  if (window == UartWindow) {
    if (reg != RH_UART_DATA - RH_UART_BASE) {
      core.Serial.WriteRegister(reg, uint32_t(value));
      return;
    }
    const auto handing = Clock::now();
    core.Asleep = true; // a line paced at its rate holds the program here
    core.Serial.WriteRegister(reg, uint32_t(value));
    core.Asleep = false;
    core.SinkTotal += Clock::now() - handing;
    return;
  }
  if (window == TimerWindow && reg == RH_TIMER_ALARM - RH_TIMER_BASE) {
    core.Alarm = uint32_t(value);
    return;
  }
  if (window == SystemWindow && reg == RH_SYS_WAIT - RH_SYS_BASE)
    core.SleepUntilEvent(uint32_t(value));
}

} // namespace kestrune::arm
