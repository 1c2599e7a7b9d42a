#include "platform/PortList.h"

#include "platform/PortDiscovery.h"
#include "platform/SerialPort.h"

#include <algorithm>
#include <set>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace kestrune {
namespace {

std::string BaseName(const std::string &path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

#ifndef _WIN32
bool NodeExists(const std::string &portName) {
  struct stat info {};
  return ::stat(PosixPortPath(portName).c_str(), &info) == 0;
}
#endif

} // namespace

bool PortEntry::Answers(const std::string &portName) const {
  if (portName.empty())
    return false;
  if (portName == Name || portName == Device || portName == ByPath || portName == ById)
    return true;
  return DevicePath(portName) == DevicePath(Device);
}

std::string PortEntry::Label() const {
  if (ByPath.empty() && ById.empty())
    return Name;
  std::string label = Device;
  if (!ByPath.empty())
    label += "  by-path: " + BaseName(ByPath);
  if (!ById.empty())
    label += "  by-id: " + BaseName(ById);
  return label;
}

std::vector<PortEntry> NamePorts(const std::vector<std::string> &present,
                                 const std::map<std::string, StableNames> &links) {
  std::vector<PortEntry> entries;
  std::set<std::string> devices;
  for (const std::string &name : present) {
    std::string device = DevicePath(name);
    if (!devices.insert(device).second)
      continue;
    PortEntry entry;
    entry.Device = name;
    if (auto found = links.find(device); found != links.end()) {
      entry.ByPath = found->second.ByPath;
      entry.ById = found->second.ById;
    }
    entry.Name = !entry.ByPath.empty() ? entry.ByPath : !entry.ById.empty() ? entry.ById : name;
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::vector<PortEntry> PortScanner::Scan() {
#ifdef _WIN32
  Present = FindCommPorts(HighestPortNumber);
#else
  std::vector<std::string> candidates = CandidatePorts();
  SortPortNames(candidates);
  std::vector<std::string> present;
  for (const std::string &name : candidates) {
    bool seen = std::binary_search(Present.begin(), Present.end(), name);
    if (seen ? NodeExists(name) : ProbePort(name))
      present.push_back(name);
  }
  Present = std::move(present);
#endif
  return NamePorts(Present, ReadStableNames(SerialLinkRoot()));
}

} // namespace kestrune
