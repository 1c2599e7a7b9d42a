// A registry in memory for tests: keys by root and path (letter case
// ignored, as the registry does), values typed as string or integer.
#pragma once

#include "platform/RegistryAccess.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <variant>
#include <vector>

namespace kestrune::uitest {

struct RegistryContents {
  using Value = std::variant<std::string, int32_t, std::vector<uint8_t>>;
  // "HKCR\Kestrune\DefaultIcon" -> value name -> value
  std::map<std::string, std::map<std::string, Value>> Keys;
  // Keys that refuse to open (as if access were denied).
  std::set<std::string> Refused;
};

class InMemoryRegistry final : public RegistryAccess {
public:
  explicit InMemoryRegistry(std::shared_ptr<RegistryContents> contents);
  void SetRootKey(RegistryRoot root) override;
  bool OpenKey(const std::string &path) override;
  void CloseKey() override;
  std::optional<std::string> ReadString(const std::string &name) override;
  std::optional<int32_t> ReadInteger(const std::string &name) override;
  bool WriteString(const std::string &name, const std::string &value) override;
  bool WriteInteger(const std::string &name, int32_t value) override;

  // "HKCR" or "HKCU" + "\" + the path without its leading backslash, lower case.
  static std::string KeyName(RegistryRoot root, const std::string &path);

private:
  std::shared_ptr<RegistryContents> Contents;
  RegistryRoot Root = RegistryRoot::CurrentUser;
  std::string OpenName;
};

} // namespace kestrune::uitest
