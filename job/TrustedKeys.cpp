#include "job/TrustedKeys.h"

#include <cstdlib>

namespace kestrune::job {
namespace {

std::string Variable(const char *name) {
  const char *value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

} // namespace

std::vector<std::string> DefaultTrustedKeyFolders() {
  std::vector<std::string> folders;
#ifdef _WIN32
  if (std::string data = Variable("PROGRAMDATA"); !data.empty())
    folders.push_back(data + "\\Kestrune\\trusted-keys");
  if (std::string user = Variable("APPDATA"); !user.empty())
    folders.push_back(user + "\\Orv\\Kestrune\\trusted-keys");
#else
  folders.push_back("/etc/kestrune/trusted-keys");
  std::string config = Variable("XDG_CONFIG_HOME");
  if (config.empty() && !Variable("HOME").empty())
    config = Variable("HOME") + "/.config";
  if (!config.empty())
    folders.push_back(config + "/Orv/Kestrune/trusted-keys");
#endif
  return folders;
}

} // namespace kestrune::job
