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

std::optional<SimTime> OutputQueue::DueOf(const OutByte &item) const {
  SimTime due = item.NotBefore;
  if (item.Gap.count() > 0) {
    if (TakenUnwritten)
      return std::nullopt;
    if (LastWritten)
      due = std::max(due, *LastWritten + item.Gap);
  }
  if (Realtime)
    due = std::max(due, LineFreeAt) + ByteTime(item.Rate);
  return due;
}

std::optional<SimTime> OutputQueue::NextDue() const {
  if (Items.empty())
    return std::nullopt;
  return DueOf(Items.front());
}

void OutputQueue::TakeDue(SimTime now, std::vector<OutByte> &out) {
  while (!Items.empty()) {
    std::optional<SimTime> due = DueOf(Items.front());
    if (!due || *due > now)
      return;
    if (Realtime)
      LineFreeAt = *due;
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
