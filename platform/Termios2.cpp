#include "Termios2.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstring>

namespace kestrune {

static_assert(sizeof(termios2) <= sizeof(LineRecord::Bytes));

static termios2 &Native(LineRecord &record) {
  return *reinterpret_cast<termios2 *>(record.Bytes);
}
static const termios2 &Native(const LineRecord &record) {
  return *reinterpret_cast<const termios2 *>(record.Bytes);
}

bool GetLineRecord(int fd, LineRecord &record) {
  return ioctl(fd, TCGETS2, &Native(record)) == 0;
}

bool SetLineRecord(int fd, const LineRecord &record) {
  return ioctl(fd, TCSETS2, &Native(record)) == 0;
}

void ForceLineSettings(LineRecord &record, const PortSettings &s) {
  termios2 &t = Native(record);
  // Raw: no input or output processing, no echo, no signals.
  t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                 IXON | IXOFF | IXANY | INPCK);
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  // With VMIN 1 a non-blocking read of an empty line says EAGAIN and a
  // read of 0 bytes means the other end has hung up.
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;

  t.c_cflag &= ~(CSIZE | CSTOPB | CRTSCTS | CBAUD | (CBAUD << IBSHIFT));
  switch (s.ByteSize) {
  case 5: t.c_cflag |= CS5; break;
  case 6: t.c_cflag |= CS6; break;
  case 7: t.c_cflag |= CS7; break;
  default: t.c_cflag |= CS8; break;
  }
  if (s.StopBits == 2)
    t.c_cflag |= CSTOPB;
  if (s.ParityCheck)
    t.c_iflag |= INPCK;
  // The parity scheme (PARENB/PARODD) is left as the port had it.
  if (s.OutxCtsFlow || s.OutxDsrFlow)
    t.c_cflag |= CRTSCTS;
  if (s.OutX)
    t.c_iflag |= IXON;
  if (s.InX)
    t.c_iflag |= IXOFF;
  t.c_cflag |= CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT);
  t.c_ispeed = s.BaudRate;
  t.c_ospeed = s.BaudRate;
}

PortSettings DescribeLineRecord(const LineRecord &record) {
  const termios2 &t = Native(record);
  PortSettings s;
  switch (t.c_cflag & CSIZE) {
  case CS5: s.ByteSize = 5; break;
  case CS6: s.ByteSize = 6; break;
  case CS7: s.ByteSize = 7; break;
  default: s.ByteSize = 8; break;
  }
  s.StopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
  s.ParityCheck = (t.c_iflag & INPCK) != 0;
  s.OutxCtsFlow = (t.c_cflag & CRTSCTS) != 0;
  s.OutxDsrFlow = false;
  s.OutX = (t.c_iflag & IXON) != 0;
  s.InX = (t.c_iflag & IXOFF) != 0;
  s.BaudRate = t.c_ospeed;
  return s;
}

bool MakeRaw(int fd) {
  termios2 t{};
  if (ioctl(fd, TCGETS2, &t) != 0)
    return false;
  t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                 IXON | IXOFF | IXANY);
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  return ioctl(fd, TCSETS2, &t) == 0;
}

} // namespace kestrune
