#include "platform/SettingsStore.h"

namespace kestrune {

std::string ReadRegString(SettingsStore &store, const std::string &name,
                          const std::string &defaultValue) {
  if (!store.ReadString(name))
    store.WriteString(name, defaultValue);
  return store.ReadString(name).value_or(defaultValue);
}

int32_t ReadRegInteger(SettingsStore &store, const std::string &name, int32_t defaultValue) {
  if (!store.ReadInteger(name))
    store.WriteInteger(name, defaultValue);
  return store.ReadInteger(name).value_or(defaultValue);
}

std::string ReadPortSetting(SettingsStore &store, const std::string &name) {
  if (store.StoresPortNumbers())
    return "COM" + std::to_string(ReadRegInteger(store, name, DefaultPortNumber));
  return ReadRegString(store, name, DefaultPortPath);
}

void WritePortSetting(SettingsStore &store, const std::string &name, const std::string &portText) {
  if (store.StoresPortNumbers()) {
    store.WriteInteger(name, portText.empty() ? DefaultPortNumber : PortNumberOfText(portText));
    return;
  }
  store.WriteString(name, portText.empty() ? std::string(DefaultPortPath) : portText);
}

int32_t PortNumberOfText(const std::string &portText) {
  if (portText.size() <= 3)
    return DefaultPortNumber;
  // Every digit counts: COM123 is port 123. More than nine digits would not
  // fit the stored 32-bit number and is no port of any system.
  std::string digits = portText.substr(3);
  if (digits.size() > 9)
    return DefaultPortNumber;
  int32_t number = 0;
  for (char c : digits) {
    if (c < '0' || c > '9')
      return DefaultPortNumber;
    number = number * 10 + (c - '0');
  }
  return number;
}

std::string PortValueName(const char *channelSuffix) {
  return std::string("COMM Port") + channelSuffix;
}

} // namespace kestrune
