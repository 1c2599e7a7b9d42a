// A virtual handset serving one line on a thread of its own: a pseudo-
// terminal it creates (the host opens the slave's path like a serial port)
// or an existing serial device. Tests create several in one process; each
// costs a thread and the flash pages actually written.
#pragma once

#include "handset/HandsetOptions.h"
#include "handset/LineModel.h"
#include "handset/RunSummary.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kestrune::handset {

class HandsetCore;
class PtyLine;
class DeviceLine;
class Trace;

class VirtualHandset {
public:
  explicit VirtualHandset(HandsetOptions options = {});
  ~VirtualHandset();
  VirtualHandset(const VirtualHandset &) = delete;
  VirtualHandset &operator=(const VirtualHandset &) = delete;

  // Creates a pseudo-terminal and serves it. False with ErrorText() set.
  bool StartOnPty();
  // Serves an existing serial device (a null-modem cable to the host's port).
  bool StartOnDevice(const std::string &path);
  // The path the host opens (the pseudo-terminal's slave, or the device).
  std::string DevicePath() const;
  std::string ErrorText() const;

  // Stops serving and closes the line; waits for the handset's thread.
  void Stop();
  // False once stopped, after a --disconnect-after cut, after --once, or
  // after a failure of the line (see ErrorText()).
  bool Running() const;
  // Waits until the handset has stopped by itself; false on time-out.
  bool WaitUntilStopped(std::chrono::milliseconds timeout) const;

  int CompletedRuns() const;
  // Waits until at least count runs have ended; false on time-out.
  bool WaitForRuns(int count, std::chrono::milliseconds timeout) const;
  std::vector<RunSummary> Runs() const;
  bool InBootRom() const;

  std::vector<uint8_t> FlashContents() const; // all 16 MiB
  std::vector<uint8_t> ReadFlash(uint32_t offset, uint32_t length) const;
  std::vector<std::string> Trace() const;

private:
  bool StartThread();
  void ThreadMain();
  void HandleHostChanges();
  void ReadHost(uint64_t budget);
  void WriteOutput(const std::vector<uint8_t> &bytes);
  void AfterRunsEnded();
  void Finish(const std::string &error = {});
  int PollTimeoutMs(bool &readNow);
  uint32_t PacingRate() const;
  HostLine SampleHost() const;
  SimTime Now() const;

  HandsetOptions Options;
  std::chrono::steady_clock::time_point Epoch;
  std::unique_ptr<handset::Trace> Log;
  std::unique_ptr<HandsetCore> Core;
  std::unique_ptr<PtyLine> Pty;
  std::unique_ptr<DeviceLine> Device;
  std::string Path;
  std::string Error;
  ReadPacer Pacer;
  uint32_t AppliedRate = 0;
  size_t RunsSeen = 0;
  bool HostPresent = false;
  bool HostSentBytes = false;
  bool Serving = false;
  bool Finished = false;
  bool StopRequested = false;
  int WakeFd = -1;
  std::thread Worker;
  std::mutex StopLock; // Stop() may come from a signal thread and the owner at once
  mutable std::mutex Lock;
  mutable std::condition_variable Changed;
};

} // namespace kestrune::handset
