#include "records/RecordsLocation.h"

#include <cstdlib>
#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace kestrune::records {
namespace {

std::string Variable(const char *name) {
  const char *value = std::getenv(name);
  return value ? value : "";
}

} // namespace

std::string DefaultRecordsPath() {
  std::filesystem::path base;
#ifdef _WIN32
  base = Variable("LOCALAPPDATA");
#else
  base = Variable("XDG_DATA_HOME");
  // The XDG rule: a relative value is ignored.
  if (base.empty() || base.is_relative()) {
    std::string home = Variable("HOME");
    if (home.empty())
      return {};
    base = std::filesystem::path(home) / ".local" / "share";
  }
#endif
  if (base.empty())
    return {};
  return (base / "Orv" / "Kestrune" / "records.sqlite").string();
}

std::string SpillPathFor(const std::string &path) {
  std::filesystem::path file(path);
  std::filesystem::path name = file.stem();
  name += ".unwritten";
  name += file.extension();
  return (file.parent_path() / name).string();
}

std::string HostStationName() {
#ifdef _WIN32
  char name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = sizeof name;
  if (GetComputerNameA(name, &size))
    return std::string(name, size);
#else
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) == 0 && name[0])
    return name;
#endif
  return "unknown";
}

} // namespace kestrune::records
