// The serial line between host and handset: both ends must agree on rate
// and framing (8 data bits, no parity, 2 stop bits) or the receiving end
// reads garbage. A byte occupies 11 bit times on the line.
#pragma once

#include "handset/SimTime.h"

#include <cstdint>
#include <string>

namespace kestrune::handset {

// The host's end of the line as last seen. Unknown on a real serial device,
// where the hardware does the garbling itself.
struct HostLine {
  bool Known = false;
  uint32_t Rate = 0;
  uint8_t DataBits = 8;
  uint8_t StopBits = 2;
  bool Parity = false;
};

// Whether bytes pass intact between the host and a handset UART at
// handsetRate. Rates within 2% of each other agree, as UARTs tolerate.
bool LineAgrees(const HostLine &host, uint32_t handsetRate);

// What a mismatched receiver makes of a byte. Never a protocol byte ("E",
// "C", ACK, NAK, the header command, 0x00 or 0x01).
uint8_t GarbleByte(uint8_t byte);

// Time `bytes` bytes sent back to back take at rate, 11 bits a byte (start,
// 8 data, 2 stop), rounded up to the microsecond.
SimTime LineTime(uint64_t bytes, uint32_t rate);

std::string DescribeHostLine(const HostLine &host);

// Paces reading at the line rate, 11 bits a byte. Host bytes arrive in
// bursts: when the handset first sees bytes waiting on an idle line the
// burst's schedule starts there, and from then on bytes become readable at
// exactly the line rate counted from that start, however late the handset
// wakes, until nothing is left waiting. A late wake therefore finds all the
// bytes the line would have delivered meanwhile, and an early one none.
//
// An idle line saves credit at the line rate, capped at 10 ms worth (at
// least 16 bytes, a UART's FIFO): the bytes that may have come in between
// the host's write and the handset seeing them. A burst starts with that
// credit and nothing more, so a long pause never turns into a free burst.
class ReadPacer {
public:
  // Bytes that may be read now at this rate.
  uint64_t Budget(SimTime now, uint32_t rate);
  void Consume(uint64_t bytes);
  // Host bytes are seen waiting at now: on an idle line a burst starts.
  void Pending(SimTime now);
  // Nothing is left waiting: the line is idle until the next burst.
  void Drained();
  bool InBurst() const { return Burst; }
  // When at least `bytes` will be available, at the rate of the last Budget
  // call (an idle line never offers more than its cap).
  SimTime WhenAvailable(SimTime now, uint64_t bytes) const;

private:
  int64_t Credit(SimTime now) const;
  void Restart(SimTime now, int64_t credit);

  bool Started = false;
  bool Burst = false;
  uint32_t Rate = 0;
  // The schedule: Base bytes at From, then the line rate; Used of them read.
  SimTime From{};
  int64_t Base = 0;
  int64_t Used = 0;
};

} // namespace kestrune::handset
