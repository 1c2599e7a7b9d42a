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

// Time one byte takes on the line at rate (11 bits: start, 8 data, 2 stop).
SimTime ByteTime(uint32_t rate);

std::string DescribeHostLine(const HostLine &host);

// Paces reading at the line rate: a byte becomes readable one byte time
// after the previous one. Credit saved up while the line is idle is capped
// at 10 ms worth (at least 16 bytes, a UART's FIFO).
class ReadPacer {
public:
  // Bytes that may be read now at this rate.
  uint64_t Budget(SimTime now, uint32_t rate);
  void Consume(uint64_t bytes);
  // When at least `bytes` will be available (after a Budget call at now).
  SimTime WhenAvailable(SimTime now, uint32_t rate, uint64_t bytes) const;

private:
  double Credit = -1; // bytes; negative until the first call
  SimTime Last{};
};

} // namespace kestrune::handset
