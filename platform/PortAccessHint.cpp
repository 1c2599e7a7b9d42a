#include "platform/PortAccessHint.h"

#include <cerrno>

namespace kestrune {

std::string PortAccessHint(const std::string &statusText) {
#ifdef _WIN32
  (void)statusText;
  return {};
#else
  // The worker's text for a failed open, with the open's errno in brackets.
  static const std::string Refused =
      "ERROR 해당 COMM port 를 열 수 없습니다. (" + std::to_string(EACCES) + ")";
  if (statusText != Refused)
    return {};
  return "Access to the serial port was denied: the user must be in the dialout group "
         "(sudo adduser $USER dialout, then log in again).";
#endif
}

} // namespace kestrune
