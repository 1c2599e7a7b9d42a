// <linux/serial.h> is kept out of the files that use <termios.h> (see
// Termios2.h): this file includes neither.
#include "platform/LowLatency.h"

#ifdef __linux__
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

namespace kestrune {

LowLatencyResult RequestLowLatency(int fd) {
#ifdef __linux__
  serial_struct serial{};
  // Pseudo-terminals and some drivers answer ENOTTY or EINVAL: no such mode.
  if (::ioctl(fd, TIOCGSERIAL, &serial) != 0)
    return LowLatencyResult::NotSupported;
  if (serial.flags & ASYNC_LOW_LATENCY)
    return LowLatencyResult::AlreadySet;
  serial.flags |= ASYNC_LOW_LATENCY;
  if (::ioctl(fd, TIOCSSERIAL, &serial) != 0)
    return LowLatencyResult::Refused;
  return LowLatencyResult::Set;
#else
  (void)fd;
  return LowLatencyResult::NotSupported;
#endif
}

} // namespace kestrune
