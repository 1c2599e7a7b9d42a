// A handset whose receiver hangs in the middle of the programming exchange:
// on a pseudo-terminal it answers the boot call, the RAM program, the
// configuration and the start header like a healthy one, then stops reading
// the line. The host's first block no longer fits in the line, and its write
// waits until the line is read again or the run is stopped.
#pragma once

#include "tests/support/Pty.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace kestrune::test {

class FreezingHandset {
public:
  FreezingHandset();
  // Closes the line: a host still writing to it gets an error.
  ~FreezingHandset();
  FreezingHandset(const FreezingHandset &) = delete;
  FreezingHandset &operator=(const FreezingHandset &) = delete;

  const std::string &DevicePath() const { return Line.SlavePath(); }
  // True once the start header was answered and the handset reads no more.
  bool Frozen() const { return IsFrozen; }
  // Host bytes written but not read: what fills the line.
  uint32_t Unread() const;

private:
  void Serve();

  Pty Line;
  std::atomic<bool> Quit{false};
  std::atomic<bool> IsFrozen{false};
  std::thread Thread;
};

} // namespace kestrune::test
