#include "tests/ui/InMemoryRegistry.h"

#include <cctype>

namespace kestrune::uitest {

InMemoryRegistry::InMemoryRegistry(std::shared_ptr<RegistryContents> contents)
    : Contents(std::move(contents)) {}

std::string InMemoryRegistry::KeyName(RegistryRoot root, const std::string &path) {
  std::string name = root == RegistryRoot::ClassesRoot ? "hkcr\\" : "hkcu\\";
  for (size_t i = !path.empty() && path[0] == '\\' ? 1 : 0; i < path.size(); ++i)
    name += static_cast<char>(std::tolower(static_cast<unsigned char>(path[i])));
  return name;
}

void InMemoryRegistry::SetRootKey(RegistryRoot root) {
  CloseKey();
  Root = root;
}

bool InMemoryRegistry::OpenKey(const std::string &path) {
  CloseKey();
  std::string name = KeyName(Root, path);
  if (Contents->Refused.count(name) != 0)
    return false;
  Contents->Keys[name];
  OpenName = name;
  return true;
}

void InMemoryRegistry::CloseKey() { OpenName.clear(); }

std::optional<std::string> InMemoryRegistry::ReadString(const std::string &name) {
  if (OpenName.empty())
    return std::nullopt;
  auto &values = Contents->Keys[OpenName];
  auto found = values.find(name);
  if (found == values.end() || !std::holds_alternative<std::string>(found->second))
    return std::nullopt;
  return std::get<std::string>(found->second);
}

std::optional<int32_t> InMemoryRegistry::ReadInteger(const std::string &name) {
  if (OpenName.empty())
    return std::nullopt;
  auto &values = Contents->Keys[OpenName];
  auto found = values.find(name);
  if (found == values.end() || !std::holds_alternative<int32_t>(found->second))
    return std::nullopt;
  return std::get<int32_t>(found->second);
}

bool InMemoryRegistry::WriteString(const std::string &name, const std::string &value) {
  if (OpenName.empty())
    return false;
  Contents->Keys[OpenName][name] = value;
  return true;
}

bool InMemoryRegistry::WriteInteger(const std::string &name, int32_t value) {
  if (OpenName.empty())
    return false;
  Contents->Keys[OpenName][name] = value;
  return true;
}

} // namespace kestrune::uitest
