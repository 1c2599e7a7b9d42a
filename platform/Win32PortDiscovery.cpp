// Port discovery on Windows: the ports the system lists under
// HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM, one value per port
// driver with the port's name as data. Nothing is opened, so no port sees
// its modem lines move and no Bluetooth port is made to connect; a port
// number of any size is listed.
#include "platform/PortDiscovery.h"
#include "platform/SerialPort.h"
#include "platform/Win32Text.h"

#include <windows.h>

namespace kestrune {

bool ProbePort(const std::string &portName) {
  HANDLE handle = CreateFileW(WideFromUtf8(WindowsPortPath(portName)).c_str(),
                              GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    CloseHandle(handle);
    return true;
  }
  return !IsAbsentWindowsPortError(GetLastError());
}

std::vector<std::string> ListedCommPorts() {
  std::vector<std::string> names;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE,
                    &key) != ERROR_SUCCESS)
    return names; // no serial port driver has started: no ports
  for (DWORD index = 0;; ++index) {
    wchar_t valueName[256];
    DWORD nameLength = 256;
    wchar_t data[256];
    DWORD dataSize = sizeof data - sizeof(wchar_t);
    DWORD type = 0;
    LONG result = RegEnumValueW(key, index, valueName, &nameLength, nullptr, &type,
                                reinterpret_cast<BYTE *>(data), &dataSize);
    if (result == ERROR_NO_MORE_ITEMS)
      break;
    if (result != ERROR_SUCCESS || type != REG_SZ)
      continue;
    size_t length = dataSize / sizeof(wchar_t);
    while (length > 0 && data[length - 1] == L'\0')
      --length;
    if (length > 0)
      names.push_back(Utf8FromWide(data, length));
  }
  RegCloseKey(key);
  SortPortNamesByNumber(names);
  return names;
}

// highestPort is not needed: the system's list has every port there is.
std::vector<std::string> FindCommPorts(int /*highestPort*/) {
  if (auto named = PortsFromEnvironment())
    return ProbeAll(std::move(*named));
  return ListedCommPorts();
}

} // namespace kestrune
