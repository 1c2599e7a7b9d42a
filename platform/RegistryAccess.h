// The registry as the settings need it: one root key chosen at a time, one
// key open at a time, string and 32-bit integer values. The Win32
// implementation sits behind it; tests use an in-memory one.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace kestrune {

enum class RegistryRoot { ClassesRoot, CurrentUser };

class RegistryAccess {
public:
  virtual ~RegistryAccess() = default;

  virtual void SetRootKey(RegistryRoot root) = 0;
  // Opens the key at path below the root key (a leading backslash is
  // allowed), creating it when it does not exist. Closes a key still open.
  virtual bool OpenKey(const std::string &path) = 0;
  virtual void CloseKey() = 0;

  // Values of the open key; "" names the key's default value. A value that
  // is missing or of another type reads as nothing.
  virtual std::optional<std::string> ReadString(const std::string &name) = 0;
  virtual std::optional<int32_t> ReadInteger(const std::string &name) = 0;
  virtual bool WriteString(const std::string &name, const std::string &value) = 0;
  virtual bool WriteInteger(const std::string &name, int32_t value) = 0;
};

// The Windows registry (Windows builds only).
std::unique_ptr<RegistryAccess> CreateWindowsRegistry();

} // namespace kestrune
