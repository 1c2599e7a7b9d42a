// How one run of the handset ended, kept for tests and the trace. A run
// begins when the boot ROM answers "C" and ends when the handset is back in
// its boot ROM.
#pragma once

#include <chrono>
#include <cstdint>

namespace kestrune::handset {

enum class RunOutcome : uint8_t {
  Complete,          // ACK verdict
  ProgrammingError,  // NAK verdict with the error record
  EraseFailed,       // NAK in the erase report; the handset stopped
  FlashRefused,      // 0x15 to the flash type request
  BadStartHeader,    // the start header asked for what the RAM program cannot do
  BadRamHeader,      // the boot ROM could not place the RAM program
  UnknownRamProgram, // an image the handset cannot run: it hung
  Silenced,          // a --silent-after fault took effect
  HostClosed,        // the host closed the line mid-run
  IdleReset,         // nothing happened for the idle time (operator's reset)
  Disconnected,      // the line was cut by the --disconnect-after fault
  CoreStopped,       // the emulated core stopped answering
};

const char *OutcomeName(RunOutcome outcome);

struct RunSummary {
  RunOutcome Outcome = RunOutcome::HostClosed;
  uint32_t LineRate = 0;         // the rate the RAM program switched to
  uint32_t BlocksAnnounced = 0;
  uint32_t BlocksProgrammed = 0;
  uint32_t BlocksRefused = 0;    // NAKs sent for blocks
  uint32_t Failures = 0;         // C of the error record
  uint32_t FailureStatus = 0;    // S of the error record
  uint64_t HostBytes = 0;        // host bytes from the RAM program header on
  // The emulated core (when it ran the RAM program and got back to the boot
  // ROM): its thread's processor time, and how long it slept waiting.
  std::chrono::nanoseconds CoreCpu{0};
  std::chrono::nanoseconds CoreAsleep{0};
};

} // namespace kestrune::handset
