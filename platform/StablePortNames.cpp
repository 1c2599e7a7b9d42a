#include "platform/StablePortNames.h"

#include "platform/SerialPort.h"

#include <cstdlib>

#ifndef _WIN32
#include <dirent.h>
#include <limits.h>
#endif

namespace kestrune {
namespace {

#ifndef _WIN32
// Calls take(device, linkPath) for every link in dir that resolves.
template <typename Take> void ForEachLink(const std::string &dir, Take take) {
  DIR *entries = ::opendir(dir.c_str());
  if (entries == nullptr)
    return;
  while (dirent *entry = ::readdir(entries)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..")
      continue;
    std::string link = dir + "/" + name;
    char resolved[PATH_MAX];
    if (::realpath(link.c_str(), resolved) != nullptr)
      take(std::string(resolved), link);
  }
  ::closedir(entries);
}

// Of two links to one device the first by name wins, so that a listing
// does not depend on the order readdir happens to give.
void Keep(std::string &slot, const std::string &link) {
  if (slot.empty() || link < slot)
    slot = link;
}
#endif

} // namespace

std::string SerialLinkRoot() {
  const char *root = std::getenv("KESTRUNE_SERIAL_ROOT");
  return root != nullptr && *root != '\0' ? std::string(root) : std::string("/dev/serial");
}

std::map<std::string, StableNames> ReadStableNames(const std::string &root) {
  std::map<std::string, StableNames> names;
#ifndef _WIN32
  ForEachLink(root + "/by-path",
              [&](const std::string &device, const std::string &link) { Keep(names[device].ByPath, link); });
  ForEachLink(root + "/by-id",
              [&](const std::string &device, const std::string &link) { Keep(names[device].ById, link); });
#else
  (void)root;
#endif
  return names;
}

std::string DevicePath(const std::string &portName) {
#ifndef _WIN32
  std::string path = PosixPortPath(portName);
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) != nullptr)
    return resolved;
  return path;
#else
  return portName;
#endif
}

} // namespace kestrune
