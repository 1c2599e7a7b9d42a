// A small host for the handset tests: the platform's serial port on the
// pseudo-terminal's slave, with the same line settings and read time-outs
// as the channel worker, and the protocol's steps written out plainly.
#pragma once

#include "platform/SerialPort.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrune::handset::test {

using Bytes = std::vector<uint8_t>;
using Millis = std::chrono::milliseconds;

class ScriptedHost {
public:
  explicit ScriptedHost(const std::string &path, uint32_t rate = 28800);
  bool IsOpen() const { return Port->IsOpen(); }
  void Close() { Port->Close(); }
  SerialPort &Line() { return *Port; }

  void SetRate(uint32_t rate);
  // False when the write failed (the line is gone).
  bool Write(const Bytes &bytes);
  // Up to n bytes; returns when n have come or the time is up.
  Bytes Read(size_t n, Millis timeout);
  // One read as the worker makes it: n bytes or 5n+1 ms.
  std::optional<Bytes> PollRead(uint32_t n);

  // "E" every read time-out until "C"; the bytes before it go to before.
  bool Call(Millis timeout, Bytes *before = nullptr);
  // Header and image; true on the ACK.
  bool LoadRamProgram(const uint8_t *image = nullptr);
  // Speed message and the switch, as the worker does it.
  void SetSpeed(uint8_t code, uint32_t rate);
  // Up to ten data waits of eight-byte reads, ending once ten bytes are in,
  // as the worker does. A late reader may find two bytes in one wait, so
  // the handset's spacing shows in the time from the first byte to the last.
  struct Identification {
    size_t Bytes = 0;
    std::chrono::steady_clock::duration FirstToLast{};
  };
  Identification Identify();
  // Map command and map; the answer to the command.
  std::optional<uint8_t> SendMap();
  std::optional<uint8_t> FlashType();

  struct Outcome {
    bool Finished = false;           // a verdict came
    std::optional<uint8_t> Verdict;
    Bytes Record;
    std::vector<uint8_t> Report;     // erase status bytes, in order
    int Resent = 0;
    std::string Stall;               // what the host was waiting for when time ran out
  };
  // The worker's programming loop: start header, blocks, erase report read
  // after block 2, re-sends on NAK, verdict. Every wait gives up after limit.
  Outcome Program(const Bytes &image, Millis limit = Millis(5000));

private:
  bool WaitAckNak(uint8_t &byte, Millis limit);
  std::unique_ptr<SerialPort> Port;
  PortSettings Settings;
};

Bytes Image(size_t length);

// Ten bytes, spaced by the handset's gap. Without the gap all ten come within
// a few milliseconds; a reader late by up to four gaps still passes.
void ExpectSpacedIdentification(const ScriptedHost::Identification &id);

} // namespace kestrune::handset::test
