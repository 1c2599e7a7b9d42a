// Bytes the handset has decided to send, each with the earliest time it may
// leave. Some bytes must follow the previous one by a minimum gap measured
// from when that one was really written (the identification bytes), so a
// late writer can never bunch them. With pacing on, bytes leave no faster
// than the line rate and count as sent when their last bit is out; a writer
// woken late sends at once what the line would have carried meanwhile.
#pragma once

#include "handset/SimTime.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace kestrune::handset {

struct OutByte {
  uint8_t Value = 0;
  uint32_t Rate = 0;     // the handset's line rate when it was queued
  SimTime NotBefore{};
  SimTime Gap{};         // minimum time after the previous byte was written
};

class OutputQueue {
public:
  void SetPacing(bool realtime) { Realtime = realtime; }
  void Push(uint8_t value, uint32_t rate, SimTime notBefore, SimTime gap = SimTime(0));
  void Clear();
  bool Empty() const { return Items.empty(); }
  size_t Size() const { return Items.size(); }
  // Latest NotBefore of anything queued (the queue's end in time).
  SimTime LastNotBefore() const;

  // When the head byte may go; unset while empty or while it waits for the
  // write of bytes already taken.
  std::optional<SimTime> NextDue() const;
  // Moves the bytes due at now into out.
  void TakeDue(SimTime now, std::vector<OutByte> &out);
  // The bytes taken last have been written to the line at now.
  void Written(SimTime now);

private:
  struct Slot {
    SimTime Due;      // when the byte's last bit is out
    SimTime RunStart; // the start of the run it belongs to
    uint64_t RunBytes; // its place in that run, from 1
  };
  std::optional<Slot> SlotOf(const OutByte &item) const;

  std::deque<OutByte> Items;
  bool Realtime = false;
  bool TakenUnwritten = false;
  std::optional<SimTime> LastWritten;
  SimTime LineFreeAt{};
  SimTime RunStart{};
  uint64_t RunBytes = 0;
  uint32_t RunRate = 0;
};

} // namespace kestrune::handset
