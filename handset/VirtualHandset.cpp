#include "handset/VirtualHandset.h"

#include "handset/FlashDump.h"
#include "handset/HandsetCore.h"
#include "handset/PtyLine.h"
#include "handset/Trace.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kestrune::handset {
namespace {

constexpr size_t ReadChunk = 65536;
// With pacing on, the handset wakes when about 5 ms of line time is readable.
constexpr uint32_t PacedWakeUs = 5000;

// Host bytes waiting to be read; -1 when the line cannot tell. The kernel
// may still be handing over a few more; those are seen at the next poll.
int BytesWaiting(int fd) {
  int waiting = 0;
  return ::ioctl(fd, FIONREAD, &waiting) == 0 ? waiting : -1;
}

} // namespace

VirtualHandset::VirtualHandset(HandsetOptions options)
    : Options(std::move(options)), Epoch(std::chrono::steady_clock::now()),
      Log(std::make_unique<handset::Trace>(Options.TraceToStderr)) {}

VirtualHandset::~VirtualHandset() {
  Stop();
  if (WakeFd >= 0)
    ::close(WakeFd);
}

SimTime VirtualHandset::Now() const {
  return std::chrono::duration_cast<SimTime>(std::chrono::steady_clock::now() - Epoch);
}

bool VirtualHandset::StartOnPty() {
  std::lock_guard lock(Lock);
  if (Serving || Finished) {
    Error = "the handset was started before";
    return false;
  }
  Pty = std::make_unique<PtyLine>();
  if (!Pty->Create(Error)) {
    Pty.reset();
    return false;
  }
  Path = Pty->SlavePath();
  Log->SetPrefix("[" + Path + "] ");
  return StartThread();
}

bool VirtualHandset::StartOnDevice(const std::string &path) {
  std::lock_guard lock(Lock);
  if (Serving || Finished) {
    Error = "the handset was started before";
    return false;
  }
  if (!Options.IdleResetMs)
    Options.IdleResetMs = 3000;
  Options.Realtime = false; // a real line paces itself
  Device = std::make_unique<DeviceLine>();
  if (!Device->Open(path, HandsetCore::BootRate, Error)) {
    Device.reset();
    return false;
  }
  AppliedRate = HandsetCore::BootRate;
  Path = path;
  Log->SetPrefix("[" + Path + "] ");
  return StartThread();
}

bool VirtualHandset::StartThread() {
  WakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (WakeFd < 0) {
    Error = std::string("cannot create an event: ") + std::strerror(errno);
    return false;
  }
  Core = std::make_unique<HandsetCore>(Options, *Log);
  // The emulated core's threads call this when its answers wait.
  Core->SetWakeup([fd = WakeFd] {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(fd, &one, sizeof one);
  });
  Serving = true;
  Log->Log(Now(), "serving " + Path + (Options.Realtime ? " (paced at the line rate)" : ""));
  Worker = std::thread([this] { ThreadMain(); });
  return true;
}

std::string VirtualHandset::DevicePath() const {
  std::lock_guard lock(Lock);
  return Path;
}

std::string VirtualHandset::ErrorText() const {
  std::lock_guard lock(Lock);
  return Error;
}

void VirtualHandset::Stop() {
  std::lock_guard stopping(StopLock);
  {
    std::lock_guard lock(Lock);
    StopRequested = true;
  }
  if (WakeFd >= 0) {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(WakeFd, &one, sizeof one);
  }
  if (Worker.joinable())
    Worker.join();
  std::lock_guard lock(Lock);
  if (Pty)
    Pty->Close();
  if (Device)
    Device->Close();
  Serving = false;
  Changed.notify_all();
}

bool VirtualHandset::Running() const {
  std::lock_guard lock(Lock);
  return Serving;
}

bool VirtualHandset::WaitUntilStopped(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(Lock);
  return Changed.wait_for(lock, timeout, [this] { return !Serving; });
}

int VirtualHandset::CompletedRuns() const {
  std::lock_guard lock(Lock);
  return Core ? int(Core->Runs().size()) : 0;
}

bool VirtualHandset::WaitForRuns(int count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(Lock);
  return Changed.wait_for(lock, timeout,
                          [&] { return Core && int(Core->Runs().size()) >= count; });
}

std::vector<RunSummary> VirtualHandset::Runs() const {
  std::lock_guard lock(Lock);
  return Core ? Core->Runs() : std::vector<RunSummary>{};
}

bool VirtualHandset::InBootRom() const {
  std::lock_guard lock(Lock);
  return !Core || Core->InBootRom();
}

std::vector<uint8_t> VirtualHandset::FlashContents() const {
  return ReadFlash(0, NorFlash::Size);
}

std::vector<uint8_t> VirtualHandset::ReadFlash(uint32_t offset, uint32_t length) const {
  std::vector<uint8_t> bytes(length, 0xFF);
  std::lock_guard lock(Lock);
  if (Core)
    Core->Flash().CopyOut(offset, bytes.data(), length);
  return bytes;
}

std::vector<std::string> VirtualHandset::Trace() const {
  std::lock_guard lock(Lock);
  return Log->Lines();
}

// The host's line as the core judges it. With HostAt38400IsBootRate a
// host at 38400 counts as being at the boot rate (28800) while the handset
// is at that rate: Wine cannot set 28800 on a pseudo-terminal and leaves
// 38400, a line no real handset would understand. Test use only.
HostLine VirtualHandset::SampleHost() const {
  if (!Pty)
    return HostLine{};
  HostLine host = Pty->SampleHost();
  if (Options.HostAt38400IsBootRate && host.Known && host.Rate == 38400 &&
      Core->LineRate() == HandsetCore::BootRate)
    host.Rate = HandsetCore::BootRate;
  return host;
}

// Pacing follows the host's rate: that is the rate its bytes travel at.
uint32_t VirtualHandset::PacingRate() const {
  HostLine host = SampleHost();
  return host.Known && host.Rate ? host.Rate : Core->LineRate();
}

int VirtualHandset::PollTimeoutMs(bool &readNow) {
  SimTime now = Now();
  std::optional<SimTime> wake = Core->NextWakeup();
  readNow = true;
  // An idle line is watched for the host's next burst whatever the credit.
  // Within a burst the handset sleeps until a chunk is due, or the burst's
  // last bytes if fewer are waiting, so its end is read on time; reading
  // whatever a few microseconds bring would keep it spinning.
  if (Options.Realtime && Pacer.InBurst()) {
    uint32_t rate = PacingRate();
    uint64_t chunk = std::max<uint64_t>(1, uint64_t(rate) * PacedWakeUs / 11000000);
    int waiting = BytesWaiting(Pty ? Pty->Master() : Device->Fd());
    if (waiting >= 0)
      chunk = std::clamp<uint64_t>(uint64_t(waiting), 1, chunk);
    if (Pacer.Budget(now, rate) < chunk) {
      readNow = false;
      SimTime available = Pacer.WhenAvailable(now, chunk);
      if (!wake || available < *wake)
        wake = available;
    }
  }
  if (!wake)
    return -1;
  int64_t us = (*wake - now).count();
  return us <= 0 ? 0 : int((us + 999) / 1000);
}

void VirtualHandset::ThreadMain() {
  std::vector<uint8_t> out;
  for (;;) {
    bool readNow = true;
    int timeoutMs = -1;
    pollfd fds[3] = {};
    {
      std::lock_guard lock(Lock);
      if (StopRequested || Finished)
        break;
      timeoutMs = PollTimeoutMs(readNow);
      fds[0] = {Pty ? Pty->Master() : Device->Fd(), short(readNow ? POLLIN : 0), 0};
      fds[1] = {Pty ? Pty->WatchFd() : -1, POLLIN, 0};
      fds[2] = {WakeFd, POLLIN, 0};
    }
    if (::poll(fds, 3, timeoutMs) < 0 && errno != EINTR) {
      std::lock_guard lock(Lock);
      Finish(std::string("poll failed: ") + std::strerror(errno));
      break;
    }
    std::lock_guard lock(Lock);
    if (StopRequested)
      break;
    if (fds[2].revents & POLLIN) {
      uint64_t count = 0;
      [[maybe_unused]] ssize_t n = ::read(WakeFd, &count, sizeof count);
    }
    if (Pty)
      HandleHostChanges();
    if (Finished)
      break;
    if (fds[0].revents & POLLIN) {
      uint64_t budget = ReadChunk;
      if (Options.Realtime) {
        SimTime seen = Now();
        Pacer.Pending(seen);
        budget = Pacer.Budget(seen, PacingRate());
      }
      if (budget > 0)
        ReadHost(budget);
    } else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
      Finish("the line failed (hang-up or error)");
      break;
    } else if (readNow && Options.Realtime) {
      Pacer.Drained(); // watched and found nothing waiting
    }
    if (Finished)
      break;
    SimTime now = Now();
    Core->Advance(now);
    if (Core->DisconnectRequested()) {
      if (Pty)
        Pty->Close();
      if (Device)
        Device->Close();
      AfterRunsEnded();
      Finish();
      break;
    }
    out.clear();
    if (Core->OutputPending())
      Core->TakeOutput(now, SampleHost(), out);
    // The dump is written before the run's last answer goes out, so a host
    // that has seen the verdict finds the dump complete.
    AfterRunsEnded();
    if (!out.empty()) {
      WriteOutput(out);
      Core->OutputWritten(Now());
    }
    if (Device && Core->LineRate() != AppliedRate && !Core->OutputPending()) {
      Device->Drain();
      std::string error;
      if (!Device->SetRate(Core->LineRate(), error)) {
        Finish(error);
        break;
      }
      AppliedRate = Core->LineRate();
    }
    if (Options.Once && Device && RunsSeen > 0 && !Core->OutputPending())
      Finish();
  }
}

void VirtualHandset::HandleHostChanges() {
  for (PtyLine::HostChange change : Pty->ReadHostChanges()) {
    SimTime now = Now();
    if (change == PtyLine::HostChange::Closed) {
      Pty->ForgetHost();
      Pacer.Drained();
      Core->HostClosed(now);
      AfterRunsEnded();
      HostPresent = false;
      if (Options.Once && HostSentBytes) {
        Finish();
        return;
      }
    } else {
      Core->HostOpened(now);
      HostPresent = true;
      HostSentBytes = false;
    }
  }
}

void VirtualHandset::ReadHost(uint64_t budget) {
  static thread_local std::vector<uint8_t> buffer(ReadChunk);
  int fd = Pty ? Pty->Master() : Device->Fd();
  size_t want = size_t(std::min<uint64_t>(budget, buffer.size()));
  ssize_t n = ::read(fd, buffer.data(), want);
  if (n < 0 && errno == EAGAIN && Options.Realtime)
    Pacer.Drained();
  if (n < 0 && (errno == EAGAIN || errno == EINTR))
    return;
  if (n <= 0) {
    Finish(n == 0 ? std::string("the line was closed")
                  : std::string("cannot read the line: ") + std::strerror(errno));
    return;
  }
  if (Options.Realtime) {
    Pacer.Consume(uint64_t(n));
    if (BytesWaiting(fd) == 0)
      Pacer.Drained();
  }
  HostSentBytes = true;
  HostLine host = SampleHost();
  Core->Receive(buffer.data(), size_t(n), host, Now());
}

// A line never holds up the handset: what the host's end cannot take any
// more is lost, as it would be on a wire.
void VirtualHandset::WriteOutput(const std::vector<uint8_t> &bytes) {
  int fd = Pty ? Pty->Master() : Device->Fd();
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      Log->Log(Now(), std::to_string(bytes.size() - done) +
                          " bytes lost: the host's end takes no more (" +
                          (n < 0 ? std::strerror(errno) : "closed") + ")");
      return;
    }
    done += size_t(n);
  }
}

void VirtualHandset::AfterRunsEnded() {
  size_t runs = Core->Runs().size();
  if (runs == RunsSeen)
    return;
  RunsSeen = runs;
  // Waiters go on once this thread lets the lock go: by then the dump and
  // the run's last answer are out.
  Changed.notify_all();
  if (!Options.FlashDumpDir.empty()) {
    std::string path = Options.FlashDumpDir + "/run-" + std::to_string(runs) + ".bin";
    std::string error;
    if (!WriteFlashDump(Core->Flash(), path, error))
      Log->Log(Now(), "flash dump failed: " + error);
  }
  if (Options.FlashOutPath.empty())
    return;
  std::string error;
  if (!WriteFlashDump(Core->Flash(), Options.FlashOutPath, error))
    Log->Log(Now(), "flash dump failed: " + error);
  else
    Log->Log(Now(), "flash written to " + Options.FlashOutPath);
}

void VirtualHandset::Finish(const std::string &error) {
  Finished = true;
  Serving = false;
  if (!error.empty()) {
    Error = error;
    Log->Log(Now(), "stopped: " + error);
  }
  Changed.notify_all();
}

} // namespace kestrune::handset
