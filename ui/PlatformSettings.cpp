#include "ui/PlatformSettings.h"

#ifdef _WIN32
#include "platform/RegistrySettingsStore.h"
#else
#include "platform/XdgAssociation.h"
#include "ui/IniSettingsStore.h"
#endif

namespace kestrune {

std::unique_ptr<SettingsStore> CreatePlatformSettings() {
#ifdef _WIN32
  return std::make_unique<RegistrySettingsStore>(CreateWindowsRegistry());
#else
  return std::make_unique<IniSettingsStore>(UserXdgDirectories());
#endif
}

} // namespace kestrune
