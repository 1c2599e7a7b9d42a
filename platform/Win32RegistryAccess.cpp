// The Windows registry behind RegistryAccess: keys opened (or created) for
// reading and writing, REG_SZ and REG_DWORD values. Names and texts cross
// as UTF-16 through the wide calls, so a path in any script is stored as
// it is. The file association goes to the user's own classes
// (HKEY_CURRENT_USER\Software\Classes), which Windows merges into
// HKEY_CLASSES_ROOT and which a user without administrator rights may write.
#include "platform/RegistryAccess.h"
#include "platform/Win32Text.h"

#include <windows.h>

namespace kestrune {
namespace {

constexpr const char *UserClasses = "Software\\Classes\\";

class Win32RegistryAccess final : public RegistryAccess {
public:
  ~Win32RegistryAccess() override { CloseKey(); }

  void SetRootKey(RegistryRoot root) override {
    CloseKey();
    Root = root;
  }

  bool OpenKey(const std::string &path) override {
    CloseKey();
    std::string relative = !path.empty() && path[0] == '\\' ? path.substr(1) : path;
    if (Root == RegistryRoot::ClassesRoot)
      relative = UserClasses + relative;
    HKEY key = nullptr;
    LONG result = RegCreateKeyExW(HKEY_CURRENT_USER, WideFromUtf8(relative).c_str(), 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr, &key,
                                  nullptr);
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
    if (Key == nullptr)
      return std::nullopt;
    std::wstring wideName = WideFromUtf8(name);
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(Key, wideName.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_SZ)
      return std::nullopt;
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    size = DWORD(value.size() * sizeof(wchar_t));
    if (RegQueryValueExW(Key, wideName.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE *>(value.data()), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
      return std::nullopt;
    value.resize(size / sizeof(wchar_t));
    while (!value.empty() && value.back() == L'\0')
      value.pop_back();
    return Utf8FromWide(value);
  }

  std::optional<int32_t> ReadInteger(const std::string &name) override {
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof(data);
    if (Key == nullptr ||
        RegQueryValueExW(Key, WideFromUtf8(name).c_str(), nullptr, &type,
                         reinterpret_cast<BYTE *>(&data), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(data))
      return std::nullopt;
    return static_cast<int32_t>(data);
  }

  bool WriteString(const std::string &name, const std::string &value) override {
    std::wstring wide = WideFromUtf8(value);
    return Key != nullptr &&
           RegSetValueExW(Key, WideFromUtf8(name).c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE *>(wide.c_str()),
                          static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  }

  bool WriteInteger(const std::string &name, int32_t value) override {
    DWORD data = static_cast<DWORD>(value);
    return Key != nullptr &&
           RegSetValueExW(Key, WideFromUtf8(name).c_str(), 0, REG_DWORD,
                          reinterpret_cast<const BYTE *>(&data), sizeof(data)) == ERROR_SUCCESS;
  }

private:
  RegistryRoot Root = RegistryRoot::CurrentUser;
  HKEY Key = nullptr;
};

} // namespace

std::unique_ptr<RegistryAccess> CreateWindowsRegistry() {
  return std::make_unique<Win32RegistryAccess>();
}

} // namespace kestrune
