// The settings and the .mot association in the real Windows registry
// (under Wine in the test command): texts in any script are stored as the
// program chose them, as UTF-16 that other programs read correctly, and
// the association lands in the user's own classes.
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

TEST(WindowsText, Utf8AndUtf16RoundTrip) {
  const std::string text = "펌웨어 firmware 𝄞";
  std::wstring wide = WideFromUtf8(text);
  EXPECT_EQ(wide, L"\uD38C\uC6E8\uC5B4 firmware \U0001D11E");
  EXPECT_EQ(Utf8FromWide(wide), text);
  EXPECT_EQ(WideFromUtf8(""), L"");
}

} // namespace
} // namespace kestrune
