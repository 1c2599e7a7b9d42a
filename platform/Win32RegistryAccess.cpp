// The Windows registry behind RegistryAccess: keys opened with create and
// full access, REG_SZ and REG_DWORD values.
#include "platform/RegistryAccess.h"

#include <windows.h>

namespace kestrune {
namespace {

class Win32RegistryAccess final : public RegistryAccess {
public:
  ~Win32RegistryAccess() override { CloseKey(); }

  void SetRootKey(RegistryRoot root) override {
    CloseKey();
    Root = root == RegistryRoot::ClassesRoot ? HKEY_CLASSES_ROOT : HKEY_CURRENT_USER;
  }

  bool OpenKey(const std::string &path) override {
    CloseKey();
    std::string relative = !path.empty() && path[0] == '\\' ? path.substr(1) : path;
    HKEY key = nullptr;
    LONG result = RegCreateKeyExA(Root, relative.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS)
      return false;
    Key = key;
    return true;
  }

  void CloseKey() override {
    if (Key == nullptr)
      return;
    RegCloseKey(Key);
    Key = nullptr;
  }

  std::optional<std::string> ReadString(const std::string &name) override {
    DWORD type = 0;
    DWORD size = 0;
    if (Key == nullptr ||
        RegQueryValueExA(Key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_SZ)
      return std::nullopt;
    std::string value(size, '\0');
    if (RegQueryValueExA(Key, name.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE *>(value.data()), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
      return std::nullopt;
    value.resize(size);
    while (!value.empty() && value.back() == '\0')
      value.pop_back();
    return value;
  }

  std::optional<int32_t> ReadInteger(const std::string &name) override {
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof(data);
    if (Key == nullptr ||
        RegQueryValueExA(Key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE *>(&data),
                         &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(data))
      return std::nullopt;
    return static_cast<int32_t>(data);
  }

  bool WriteString(const std::string &name, const std::string &value) override {
    return Key != nullptr &&
           RegSetValueExA(Key, name.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE *>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
  }

  bool WriteInteger(const std::string &name, int32_t value) override {
    DWORD data = static_cast<DWORD>(value);
    return Key != nullptr &&
           RegSetValueExA(Key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE *>(&data),
                          sizeof(data)) == ERROR_SUCCESS;
  }

private:
  HKEY Root = HKEY_CURRENT_USER;
  HKEY Key = nullptr;
};

} // namespace

std::unique_ptr<RegistryAccess> CreateWindowsRegistry() {
  return std::make_unique<Win32RegistryAccess>();
}

} // namespace kestrune
