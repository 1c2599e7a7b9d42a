// The settings and the .mot association in the real Windows registry
// (under Wine in the test command): texts in any script are stored as the
// program chose them, as UTF-16 that other programs read correctly, and
// the association lands in the user's own classes.
#include "platform/PortDiscovery.h"
#include "platform/RegistryAccess.h"
#include "platform/RegistrySettingsStore.h"
#include "platform/SettingsStore.h"
#include "platform/Win32Text.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace kestrune {
namespace {

// A value as another program sees it: read straight through the wide API.
std::wstring ReadWide(HKEY root, const wchar_t *key, const wchar_t *name) {
  wchar_t data[1024] = {};
  DWORD size = sizeof data - sizeof(wchar_t);
  DWORD type = 0;
  if (RegGetValueW(root, key, name, RRF_RT_REG_SZ, &type, data, &size) != ERROR_SUCCESS)
    return L"<missing>";
  return data;
}

TEST(WindowsRegistry, KoreanImagePathIsStoredAndReadBackAsChosen) {
  const std::string chosen = "C:\\users\\Public\\이미지\\펌웨어.bin";
  RegistrySettingsStore store(CreateWindowsRegistry());
  ASSERT_TRUE(store.OpenSettings(SettingsUse::Save));
  ASSERT_TRUE(store.WriteString(FlashFileValue, chosen));
  WritePortSetting(store, PortValueName("1"), "COM123");
  ASSERT_TRUE(store.CloseSettings());

  EXPECT_EQ(ReadWide(HKEY_CURRENT_USER, L"Software\\Orv\\Kestrune", L"Flash File"),
            L"C:\\users\\Public\\\uC774\uBBF8\uC9C0\\\uD38C\uC6E8\uC5B4.bin");
  ASSERT_TRUE(store.OpenSettings(SettingsUse::Load));
  EXPECT_EQ(store.ReadString(FlashFileValue), chosen);
  EXPECT_EQ(ReadPortSetting(store, PortValueName("1")), "COM123");
  store.CloseSettings();
}

TEST(WindowsRegistry, AssociationGoesToTheUsersClasses) {
  RegistrySettingsStore store(CreateWindowsRegistry());
  store.WriteFileAssociation("C:\\프로그램\\kestrune.exe");
  EXPECT_EQ(ReadWide(HKEY_CURRENT_USER, L"Software\\Classes\\.mot", L""), L"Kestrune");
  EXPECT_EQ(ReadWide(HKEY_CURRENT_USER, L"Software\\Classes\\Kestrune\\Shell\\Open\\Command", L""),
            L"\"C:\\\uD504\uB85C\uADF8\uB7A8\\kestrune.exe\" \"%1\"");
  // Nothing goes to the machine's classes, which need administrator rights.
  EXPECT_EQ(ReadWide(HKEY_LOCAL_MACHINE, L"Software\\Classes\\Kestrune", L""), L"<missing>");
}

// Port drivers list their ports under SERIALCOMM (Wine lets a test add
// entries there): every one is found, by number, none of them opened (these
// ports do not exist, so an open would fail and drop them).
TEST(WindowsPorts, EveryListedPortIsFoundInNumberOrderWithoutOpeningIt) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                            REG_OPTION_VOLATILE, KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  const std::pair<const wchar_t *, const wchar_t *> entries[] = {
      {L"\\Device\\KestruneTestA", L"COM123"},
      {L"\\Device\\KestruneTestB", L"COM30"},
      {L"\\Device\\KestruneTestC", L"COM4"}};
  for (const auto &[name, port] : entries)
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(port),
                   DWORD((wcslen(port) + 1) * sizeof(wchar_t)));
  _putenv("KESTRUNE_PORTS="); // no list of our own: the system's
  std::vector<std::string> found = FindCommPorts(HighestPortNumber);
  for (const auto &[name, port] : entries)
    RegDeleteValueW(key, name);
  RegCloseKey(key);

  std::vector<std::string> ours;
  for (const std::string &port : found)
    if (port == "COM4" || port == "COM30" || port == "COM123")
      ours.push_back(port);
  EXPECT_EQ(ours, (std::vector<std::string>{"COM4", "COM30", "COM123"}));
  std::vector<std::string> sorted = found;
  SortPortNamesByNumber(sorted);
  EXPECT_EQ(found, sorted);
}

TEST(WindowsText, Utf8AndUtf16RoundTrip) {
  const std::string text = "펌웨어 firmware 𝄞";
  std::wstring wide = WideFromUtf8(text);
  EXPECT_EQ(wide, L"\uD38C\uC6E8\uC5B4 firmware \U0001D11E");
  EXPECT_EQ(Utf8FromWide(wide), text);
  EXPECT_EQ(WideFromUtf8(""), L"");
}

} // namespace
} // namespace kestrune
