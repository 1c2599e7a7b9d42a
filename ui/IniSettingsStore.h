// The settings on Linux: an INI file at the user's XDG config location
// (~/.config/Orv/Kestrune.conf) with the registry's value names, ports kept
// as their device paths; the .mot association as XDG desktop files.
#pragma once

#include "platform/SettingsStore.h"
#include "platform/XdgAssociation.h"

#include <QString>

#include <memory>

class QSettings;

namespace kestrune {

class IniSettingsStore final : public SettingsStore {
public:
  explicit IniSettingsStore(XdgDirectories dirs);
  ~IniSettingsStore() override;

  static QString SettingsFilePath(const XdgDirectories &dirs);

  void WriteFileAssociation(const std::string &programPath) override;
  bool OpenSettings(SettingsUse use) override;
  bool CloseSettings() override;
  std::optional<std::string> ReadString(const std::string &name) override;
  std::optional<int32_t> ReadInteger(const std::string &name) override;
  bool WriteString(const std::string &name, const std::string &value) override;
  bool WriteInteger(const std::string &name, int32_t value) override;
  bool StoresPortNumbers() const override { return false; }

private:
  void WriteIcon();
  XdgDirectories Dirs;
  std::unique_ptr<QSettings> Settings;
};

} // namespace kestrune
