// Port discovery on Windows: COM1 up to the highest port number, each opened
// once under the name the channel worker would use ("\\.\COM10" and above).
#include "platform/PortDiscovery.h"
#include "platform/SerialPort.h"

#include <windows.h>

namespace kestrune {

bool ProbePort(const std::string &portName) {
  std::string path = WindowsPortPath(portName);
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    CloseHandle(handle);
    return true;
  }
  return !IsAbsentWindowsPortError(GetLastError());
}

std::vector<std::string> FindCommPorts(int highestPort) {
  if (auto named = PortsFromEnvironment())
    return ProbeAll(std::move(*named));
  std::vector<std::string> candidates;
  for (int n = 1; n <= highestPort; ++n)
    candidates.push_back("COM" + std::to_string(n));
  return ProbeAll(std::move(candidates));
}

} // namespace kestrune
