#include "handset/LineModel.h"

#include <algorithm>

namespace kestrune::handset {
namespace {

constexpr uint32_t BitsPerByte = 11;
constexpr int64_t MaxIdleCreditUs = 10000;

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

SimTime ByteTime(uint32_t rate) {
  if (rate == 0)
    return SimTime(0);
  return SimTime((int64_t(BitsPerByte) * 1000000 + rate - 1) / rate);
}

std::string DescribeHostLine(const HostLine &host) {
  if (!host.Known)
    return "unknown";
  return std::to_string(host.Rate) + " " + std::to_string(host.DataBits) +
         (host.Parity ? "P" : "N") + std::to_string(host.StopBits);
}

uint64_t ReadPacer::Budget(SimTime now, uint32_t rate) {
  double perSecond = double(rate) / BitsPerByte;
  double cap = std::max(16.0, perSecond * MaxIdleCreditUs / 1e6);
  if (Credit < 0)
    Credit = cap;
  else if (now > Last)
    Credit = std::min(cap, Credit + double((now - Last).count()) * perSecond / 1e6);
  Last = std::max(Last, now);
  return uint64_t(Credit);
}

void ReadPacer::Consume(uint64_t bytes) { Credit = std::max(0.0, Credit - double(bytes)); }

SimTime ReadPacer::WhenAvailable(SimTime now, uint32_t rate, uint64_t bytes) const {
  if (rate == 0)
    return now + Ms(10);
  double missing = double(bytes) - std::max(Credit, 0.0);
  if (missing <= 0)
    return now;
  return now + SimTime(int64_t(missing * BitsPerByte * 1e6 / rate) + 1);
}

} // namespace kestrune::handset
