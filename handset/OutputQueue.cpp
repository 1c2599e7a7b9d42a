#include "handset/OutputQueue.h"

#include "handset/LineModel.h"

#include <algorithm>

namespace kestrune::handset {

void OutputQueue::Push(uint8_t value, uint32_t rate, SimTime notBefore, SimTime gap) {
  Items.push_back(OutByte{value, rate, notBefore, gap});
}

void OutputQueue::Clear() { Items.clear(); }

SimTime OutputQueue::LastNotBefore() const {
  return Items.empty() ? SimTime(0) : Items.back().NotBefore;
}

// With pacing, bytes sent back to back form a run timed from its first
// byte's start, so a long answer leaves at exactly the line rate (no
// rounding per byte) and a late writer catches up with the schedule. A byte
// that finds the line idle, or at another rate, starts a new run.
std::optional<OutputQueue::Slot> OutputQueue::SlotOf(const OutByte &item) const {
  SimTime start = item.NotBefore;
  if (item.Gap.count() > 0) {
    if (TakenUnwritten)
      return std::nullopt;
    if (LastWritten)
      start = std::max(start, *LastWritten + item.Gap);
  }
  if (!Realtime)
    return Slot{start, start, 0};
  if (RunBytes > 0 && start <= LineFreeAt && item.Rate == RunRate)
    return Slot{RunStart + LineTime(RunBytes + 1, item.Rate), RunStart, RunBytes + 1};
  start = std::max(start, LineFreeAt);
  return Slot{start + LineTime(1, item.Rate), start, 1};
}

std::optional<SimTime> OutputQueue::NextDue() const {
  if (Items.empty())
    return std::nullopt;
  std::optional<Slot> slot = SlotOf(Items.front());
  return slot ? std::optional(slot->Due) : std::nullopt;
}

void OutputQueue::TakeDue(SimTime now, std::vector<OutByte> &out) {
  while (!Items.empty()) {
    std::optional<Slot> slot = SlotOf(Items.front());
    if (!slot || slot->Due > now)
      return;
    if (Realtime) {
      LineFreeAt = slot->Due;
      RunStart = slot->RunStart;
      RunBytes = slot->RunBytes;
      RunRate = Items.front().Rate;
    }
    out.push_back(Items.front());
    Items.pop_front();
    TakenUnwritten = true;
  }
}

void OutputQueue::Written(SimTime now) {
  if (!TakenUnwritten)
    return;
  TakenUnwritten = false;
  LastWritten = now;
}

} // namespace kestrune::handset
