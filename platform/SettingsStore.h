// Where the program keeps the operator's choices between runs (the image
// file and the eight ports) and how it registers itself for .mot files.
// Windows: the registry; Linux: an INI file and the XDG association files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kestrune {

enum class SettingsUse { Load, Save };

class SettingsStore {
public:
  virtual ~SettingsStore() = default;

  // Registers the program at programPath as the handler of .mot files.
  // Parts that cannot be written are skipped; start-up goes on.
  virtual void WriteFileAssociation(const std::string &programPath) = 0;

  // Opens the settings, creating them when missing; false when they cannot
  // be reached. Opening for a load also marks the key as the program's own.
  virtual bool OpenSettings(SettingsUse use) = 0;
  // Closes the settings; false when what was written could not be kept.
  virtual bool CloseSettings() = 0;

  // A value that is missing or of another type reads as nothing.
  virtual std::optional<std::string> ReadString(const std::string &name) = 0;
  virtual std::optional<int32_t> ReadInteger(const std::string &name) = 0;
  virtual bool WriteString(const std::string &name, const std::string &value) = 0;
  virtual bool WriteInteger(const std::string &name, int32_t value) = 0;

  // Windows keeps a port as its number ("COM12" as 12), Linux as its text.
  virtual bool StoresPortNumbers() const = 0;
};

// Reads a value; a missing (or mistyped) value is first written as the
// default, then read back.
std::string ReadRegString(SettingsStore &store, const std::string &name,
                          const std::string &defaultValue);
int32_t ReadRegInteger(SettingsStore &store, const std::string &name, int32_t defaultValue);

// The port a channel's value names, as the text to look for in its list.
std::string ReadPortSetting(SettingsStore &store, const std::string &name);
// Stores a channel's port list text; an empty text stores the default port.
void WritePortSetting(SettingsStore &store, const std::string &name, const std::string &portText);

// The number of a "COMn" text: the characters after the first three, at
// most two of them; 1 when there are none or they are no number.
int32_t PortNumberOfText(const std::string &portText);

// The port stored when a list is empty: COM1, or its Linux equivalent.
constexpr int32_t DefaultPortNumber = 1;
constexpr const char *DefaultPortPath = "/dev/ttyS0";

// Value names of the settings.
constexpr const char *FlashFileValue = "Flash File";
// "COMM Port" for channel 1, "COMM Port1" ... "COMM Port7" for channels 2 to 8.
std::string PortValueName(const char *channelSuffix);

} // namespace kestrune
