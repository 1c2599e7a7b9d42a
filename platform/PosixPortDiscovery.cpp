// Port discovery on Linux: the serial device nodes in /dev, each opened once
// to see whether a device stands behind it.
#include "platform/PortDiscovery.h"
#include "platform/SerialPort.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kestrune {
namespace {

// Device node names of serial lines: ttyS0, ttyUSB3, ttyACM0, ttyAMA0, rfcomm1.
bool IsSerialDeviceName(const char *name) {
  static const char *const Prefixes[] = {"ttyS", "ttyUSB", "ttyACM", "ttyAMA", "rfcomm"};
  for (const char *prefix : Prefixes) {
    size_t n = std::strlen(prefix);
    if (std::strncmp(name, prefix, n) != 0 || name[n] == '\0')
      continue;
    bool digits = true;
    for (const char *p = name + n; *p != '\0'; ++p)
      digits = digits && *p >= '0' && *p <= '9';
    if (digits)
      return true;
  }
  return false;
}

std::vector<std::string> SerialDeviceNodes() {
  std::vector<std::string> nodes;
  DIR *dev = ::opendir("/dev");
  if (dev == nullptr)
    return nodes;
  while (dirent *entry = ::readdir(dev)) {
    if (IsSerialDeviceName(entry->d_name))
      nodes.push_back(std::string("/dev/") + entry->d_name);
  }
  ::closedir(dev);
  return nodes;
}

} // namespace

bool ProbePort(const std::string &portName) {
  std::string path = PosixPortPath(portName);
  if (path.empty())
    return false;
  // Non-blocking, so that a line without carrier does not hold the probe,
  // and without becoming our controlling terminal.
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) {
    ::close(fd);
    return true;
  }
  return !IsAbsentPosixPortError(errno);
}

std::vector<std::string> CandidatePorts() {
  if (auto named = PortsFromEnvironment())
    return std::move(*named);
  return SerialDeviceNodes();
}

std::vector<std::string> FindCommPorts(int /*highestPort*/) { return ProbeAll(CandidatePorts()); }

} // namespace kestrune
