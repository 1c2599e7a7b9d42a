#include "handset/LineModel.h"

#include <algorithm>

namespace kestrune::handset {
namespace {

constexpr uint32_t BitsPerByte = 11;
constexpr int64_t MaxIdleCreditUs = 10000;

// Whole bytes the line delivers in elapsed at rate; exact, so a schedule
// kept from one anchor never drifts.
int64_t BytesIn(SimTime elapsed, uint32_t rate) {
  if (elapsed.count() <= 0)
    return 0;
  return elapsed.count() * int64_t(rate) / (int64_t(BitsPerByte) * 1000000);
}

int64_t IdleCap(uint32_t rate) {
  return std::max<int64_t>(16, BytesIn(SimTime(MaxIdleCreditUs), rate));
}

} // namespace

bool LineAgrees(const HostLine &host, uint32_t handsetRate) {
  if (!host.Known)
    return true;
  if (host.DataBits != 8 || host.StopBits != 2 || host.Parity)
    return false;
  uint64_t diff = host.Rate > handsetRate ? host.Rate - handsetRate : handsetRate - host.Rate;
  return diff * 50 <= handsetRate;
}

uint8_t GarbleByte(uint8_t byte) { return uint8_t(0xF0 | (byte >> 4)); }

SimTime LineTime(uint64_t bytes, uint32_t rate) {
  if (rate == 0)
    return SimTime(0);
  return SimTime((int64_t(bytes) * BitsPerByte * 1000000 + rate - 1) / rate);
}

std::string DescribeHostLine(const HostLine &host) {
  if (!host.Known)
    return "unknown";
  return std::to_string(host.Rate) + " " + std::to_string(host.DataBits) +
         (host.Parity ? "P" : "N") + std::to_string(host.StopBits);
}

int64_t ReadPacer::Credit(SimTime now) const {
  int64_t credit = Base + BytesIn(now - From, Rate) - Used;
  if (!Burst)
    credit = std::min(credit, IdleCap(Rate));
  return std::max<int64_t>(0, credit);
}

void ReadPacer::Restart(SimTime now, int64_t credit) {
  From = now;
  Base = credit;
  Used = 0;
}

uint64_t ReadPacer::Budget(SimTime now, uint32_t rate) {
  if (!Started) {
    Started = true;
    Rate = rate;
    Restart(now, IdleCap(rate));
  } else if (rate != Rate) {
    // The host changed its rate: what is due so far was due at the old one.
    Restart(std::max(now, From), Credit(now));
    Rate = rate;
  }
  return uint64_t(Credit(now));
}

void ReadPacer::Consume(uint64_t bytes) { Used += int64_t(bytes); }

// An idle line keeps its schedule while the credit lies under the cap, so no
// fraction of a byte is lost between bursts; at the cap the burst starts
// afresh where it is seen.
void ReadPacer::Pending(SimTime now) {
  if (Burst)
    return;
  if (Started && Base + BytesIn(now - From, Rate) - Used >= IdleCap(Rate))
    Restart(std::max(now, From), IdleCap(Rate));
  Burst = true;
}

// Credit the burst did not use was line time with nothing to carry: from
// here on it counts as idle time, within the idle cap.
void ReadPacer::Drained() { Burst = false; }

SimTime ReadPacer::WhenAvailable(SimTime now, uint64_t bytes) const {
  if (Rate == 0)
    return now + Ms(10);
  int64_t want = int64_t(bytes);
  if (!Burst)
    want = std::min(want, IdleCap(Rate));
  if (Credit(now) >= want)
    return now;
  // The first time the schedule reaches want: the line time of the missing
  // bytes from From, rounded up to the microsecond.
  int64_t missing = want - Base + Used;
  int64_t perByte = int64_t(BitsPerByte) * 1000000;
  SimTime at = From + SimTime((missing * perByte + Rate - 1) / Rate);
  return std::max(at, now);
}

} // namespace kestrune::handset
