// Linux line settings through termios2 (any baud rate, 28800 included).
// <asm/termbits.h> clashes with <termios.h>, so everything that needs it
// lives in Termios2.cpp and the rest of the code sees only this header.
#pragma once

#include "SerialPort.h"

#include <cstdint>

namespace kestrune {

// Room for a struct termios2, kept opaque to the including code.
struct LineRecord {
  alignas(8) unsigned char Bytes[64] = {};
};

// TCGETS2 / TCSETS2 on fd; false with errno set on failure. On the master
// side of a pseudo-terminal TCGETS2 returns what the slave's user set.
bool GetLineRecord(int fd, LineRecord &record);
bool SetLineRecord(int fd, const LineRecord &record);

// Writes the forced fields into the record: raw mode, data bits, stop bits,
// parity checking, flow control and the baud rate (BOTHER). Other fields
// (the parity scheme, control characters) stay as they were.
void ForceLineSettings(LineRecord &record, const PortSettings &settings);

// What the record says, in the forced fields' terms.
PortSettings DescribeLineRecord(const LineRecord &record);

// Puts the line in raw mode (no echo, no line processing). Called on a
// pseudo-terminal master it changes the slave's settings, as every termios
// request on a master does: a simulator calls it once before the host opens
// the slave, so nothing it sends is echoed back while the host is away.
bool MakeRaw(int fd);

} // namespace kestrune
