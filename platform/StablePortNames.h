// Names of a serial device that survive replugs and reboots. On Linux, udev
// keeps two directories of links to the kernel's device nodes:
// /dev/serial/by-path names the physical USB slot (the same socket of a
// fixture always gets the same name) and /dev/serial/by-id names the
// adapter (maker, model, serial number). A kernel name such as /dev/ttyUSB3
// follows plug order instead.
#pragma once

#include <map>
#include <string>

namespace kestrune {

struct StableNames {
  std::string ByPath; // full path of the by-path link, "" when none
  std::string ById;   // full path of the by-id link, "" when none
};

// The directory holding by-path and by-id: KESTRUNE_SERIAL_ROOT when set
// (tests build a tree of their own), /dev/serial otherwise.
std::string SerialLinkRoot();

// The links under root/by-path and root/by-id, keyed by the device each
// resolves to (DevicePath of the link). Dangling links are left out; a
// missing directory (no USB serial device plugged in) gives nothing.
std::map<std::string, StableNames> ReadStableNames(const std::string &root);

// The device a port name stands for: the name with every symbolic link
// resolved, or the name itself when it cannot be resolved (absent).
std::string DevicePath(const std::string &portName);

} // namespace kestrune
