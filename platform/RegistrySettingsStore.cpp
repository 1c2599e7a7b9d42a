#include "platform/RegistrySettingsStore.h"

namespace kestrune {

RegistrySettingsStore::RegistrySettingsStore(std::unique_ptr<RegistryAccess> registry)
    : Registry(std::move(registry)) {}

void RegistrySettingsStore::WriteDefaultValue(const std::string &path, const std::string &value) {
  // A key that cannot be opened is skipped; the next one is still tried.
  if (!Registry->OpenKey(path))
    return;
  Registry->WriteString("", value);
  Registry->CloseKey();
}

void RegistrySettingsStore::WriteFileAssociation(const std::string &programPath) {
  Registry->SetRootKey(RegistryRoot::ClassesRoot);
  WriteDefaultValue("\\Kestrune", "Motorola S-Record Image");
  WriteDefaultValue("\\Kestrune\\DefaultIcon", programPath + ",0");
  // Quoted, so that paths with blanks reach the program as one argument.
  WriteDefaultValue("\\Kestrune\\Shell\\Open\\Command", "\"" + programPath + "\" \"%1\"");
  WriteDefaultValue(".mot", "Kestrune");
}

bool RegistrySettingsStore::OpenSettings(SettingsUse use) {
  Registry->SetRootKey(RegistryRoot::CurrentUser);
  if (!Registry->OpenKey(SettingsKeyPath))
    return false;
  if (use == SettingsUse::Load)
    Registry->WriteString("", "temp");
  return true;
}

bool RegistrySettingsStore::CloseSettings() {
  Registry->CloseKey();
  return true;
}

std::optional<std::string> RegistrySettingsStore::ReadString(const std::string &name) {
  return Registry->ReadString(name);
}

std::optional<int32_t> RegistrySettingsStore::ReadInteger(const std::string &name) {
  return Registry->ReadInteger(name);
}

bool RegistrySettingsStore::WriteString(const std::string &name, const std::string &value) {
  return Registry->WriteString(name, value);
}

bool RegistrySettingsStore::WriteInteger(const std::string &name, int32_t value) {
  return Registry->WriteInteger(name, value);
}

} // namespace kestrune
