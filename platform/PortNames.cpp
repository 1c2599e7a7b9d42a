#include "SerialPort.h"

#include <cctype>

namespace kestrune {

std::string WindowsPortPath(const std::string &portText) {
  if (portText.size() > 4)
    return "\\\\.\\" + portText;
  return portText;
}

std::string PosixPortPath(const std::string &portText) {
  // "COMn" is the usual name of /dev/ttyS(n-1).
  if (portText.size() > 3 && (portText.compare(0, 3, "COM") == 0)) {
    unsigned number = 0;
    for (size_t i = 3; i < portText.size(); ++i) {
      if (!std::isdigit(static_cast<unsigned char>(portText[i])))
        return portText;
      number = number * 10 + unsigned(portText[i] - '0');
      if (number > 999)
        return portText;
    }
    if (number >= 1)
      return "/dev/ttyS" + std::to_string(number - 1);
  }
  return portText;
}

} // namespace kestrune
