// The parts of port discovery that are the same on every platform.
#include "platform/PortDiscovery.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace kestrune {

bool IsAbsentPosixPortError(int err) {
  return err == ENOENT || err == ENXIO || err == ENODEV || err == EIO;
}

bool IsAbsentWindowsPortError(uint32_t code) {
  constexpr uint32_t ErrorFileNotFound = 2;
  constexpr uint32_t ErrorGenFailure = 31;
  return code == ErrorFileNotFound || code == ErrorGenFailure;
}

void SortPortNames(std::vector<std::string> &names) {
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
}

namespace {

// The number of a "COM<digits>" name (any case), or nothing.
std::optional<uint64_t> ComNumber(const std::string &name) {
  if (name.size() < 4 || name.size() > 20)
    return std::nullopt;
  for (size_t i = 0; i < 3; ++i)
    if ((name[i] | 0x20) != "com"[i])
      return std::nullopt;
  uint64_t number = 0;
  for (size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9')
      return std::nullopt;
    number = number * 10 + uint64_t(name[i] - '0');
  }
  return number;
}

} // namespace

void SortPortNamesByNumber(std::vector<std::string> &names) {
  std::sort(names.begin(), names.end(), [](const std::string &a, const std::string &b) {
    auto x = ComNumber(a);
    auto y = ComNumber(b);
    if (x && y)
      return *x != *y ? *x < *y : a < b;
    if (x || y)
      return x.has_value();
    return a < b;
  });
  names.erase(std::unique(names.begin(), names.end()), names.end());
}

std::vector<std::string> SplitPortList(const std::string &list) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(':', start);
    if (end == std::string::npos)
      end = list.size();
    if (end > start)
      names.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

std::optional<std::vector<std::string>> PortsFromEnvironment() {
  const char *list = std::getenv("KESTRUNE_PORTS");
  if (list == nullptr)
    return std::nullopt;
  return SplitPortList(list);
}

std::vector<std::string> ProbeAll(std::vector<std::string> candidates) {
  SortPortNames(candidates);
  std::vector<std::string> present;
  for (const std::string &name : candidates) {
    if (ProbePort(name))
      present.push_back(name);
  }
  return present;
}

} // namespace kestrune
