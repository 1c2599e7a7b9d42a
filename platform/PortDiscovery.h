// The serial ports of this machine, found by trying to open each candidate.
// A port that cannot be opened because another program holds it still
// exists and is listed; only "no such device" answers leave a port out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrune {

// The highest port number the window probed on Windows before the system's
// port list was read; no longer a limit there.
constexpr int HighestPortNumber = 24;

// The port names present. Windows: every port the system lists
// (HARDWARE\DEVICEMAP\SERIALCOMM), sorted by number, none of them opened.
// Linux, sorted by text: the device paths of the
// serial devices in /dev (ttyS, ttyUSB, ttyACM, ttyAMA, rfcomm). When
// KESTRUNE_PORTS is set, even to nothing, exactly the ports it names are
// probed instead, on either platform.
std::vector<std::string> FindCommPorts(int highestPort);

// POSIX: the names FindCommPorts probes (KESTRUNE_PORTS, or the serial
// device nodes in /dev), unprobed and unsorted.
std::vector<std::string> CandidatePorts();

// Opens the port as the channel worker would and closes it at once; true
// when the port exists (opened, or refused for any reason but absence).
bool ProbePort(const std::string &portName);

// Whether an open that failed with this code means the device is absent.
bool IsAbsentPosixPortError(int err);            // ENOENT, ENXIO, ENODEV, EIO
bool IsAbsentWindowsPortError(uint32_t code);    // ERROR_FILE_NOT_FOUND, ERROR_GEN_FAILURE

// Sorts by text, byte by byte, and drops repeats.
void SortPortNames(std::vector<std::string> &names);

// Sorts "COM<n>" names by their number (COM2 before COM10), names of any
// other form after them by text, and drops repeats.
void SortPortNamesByNumber(std::vector<std::string> &names);

// The ports the Windows system lists, sorted by number (Windows only).
std::vector<std::string> ListedCommPorts();

// The entries of a colon-separated port list; empty entries are skipped.
std::vector<std::string> SplitPortList(const std::string &list);

// The ports KESTRUNE_PORTS names, or nothing when the variable is unset.
std::optional<std::vector<std::string>> PortsFromEnvironment();

// Keeps the names whose probe finds a port, in sorted order.
std::vector<std::string> ProbeAll(std::vector<std::string> candidates);

} // namespace kestrune
