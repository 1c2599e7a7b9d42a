// The ports a window lists: each present port with its stable names, and a
// scanner that can be asked again and again while the program runs. A
// rescan opens only the ports it has not seen before; a port it has seen
// is kept while its device node exists, so an idle adapter's modem lines
// are not toggled on every rescan.
#pragma once

#include "platform/StablePortNames.h"

#include <map>
#include <string>
#include <vector>

namespace kestrune {

struct PortEntry {
  // What a channel opens and the settings keep: the by-path name where
  // there is one, else the by-id name, else the name discovery found.
  std::string Name;
  // The name discovery found (the kernel's name, /dev/ttyUSB0).
  std::string Device;
  std::string ByPath;
  std::string ById;

  // Whether a saved port name stands for this port: any of its names, or a
  // path that resolves to the same device.
  bool Answers(const std::string &portName) const;
  // The text of the port's list entry: the name alone, or the kernel name
  // with the stable names beside it.
  std::string Label() const;
};

// Entries for the present ports, in their order; a second name for a
// device already listed (a link and its target both named) is left out.
std::vector<PortEntry> NamePorts(const std::vector<std::string> &present,
                                 const std::map<std::string, StableNames> &links);

class PortScanner {
public:
  // The present ports with their stable names (read from SerialLinkRoot).
  std::vector<PortEntry> Scan();

private:
  std::vector<std::string> Present;
};

} // namespace kestrune
