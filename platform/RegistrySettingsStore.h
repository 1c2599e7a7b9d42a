// The settings and the .mot association in the Windows registry:
//   HKEY_CLASSES_ROOT\Kestrune            (default) "Motorola S-Record Image"
//   HKEY_CLASSES_ROOT\Kestrune\DefaultIcon   program path + ",0"
//   HKEY_CLASSES_ROOT\Kestrune\Shell\Open\Command  "program path" "%1"
//   HKEY_CLASSES_ROOT\.mot                (default) "Kestrune"
//   HKEY_CURRENT_USER\Software\Orv\Kestrune  (default) "temp", "Flash File"
//     (string), "COMM Port" ... "COMM Port7" (32-bit integers)
#pragma once

#include "platform/RegistryAccess.h"
#include "platform/SettingsStore.h"

#include <memory>

namespace kestrune {

constexpr const char *SettingsKeyPath = "\\Software\\Orv\\Kestrune";

class RegistrySettingsStore final : public SettingsStore {
public:
  explicit RegistrySettingsStore(std::unique_ptr<RegistryAccess> registry);

  void WriteFileAssociation(const std::string &programPath) override;
  bool OpenSettings(SettingsUse use) override;
  bool CloseSettings() override;
  std::optional<std::string> ReadString(const std::string &name) override;
  std::optional<int32_t> ReadInteger(const std::string &name) override;
  bool WriteString(const std::string &name, const std::string &value) override;
  bool WriteInteger(const std::string &name, int32_t value) override;
  bool StoresPortNumbers() const override { return true; }

private:
  void WriteDefaultValue(const std::string &path, const std::string &value);
  std::unique_ptr<RegistryAccess> Registry;
};

} // namespace kestrune
