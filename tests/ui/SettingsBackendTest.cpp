// The settings backends without the window: the registry layout (over an
// in-memory registry), the value reads with defaults, the port values, and
// the XDG association files.
#include "platform/RegistrySettingsStore.h"
#ifndef _WIN32
#include "platform/XdgAssociation.h"
#endif
#include "tests/ui/InMemoryRegistry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kestrune {
namespace {

using uitest::InMemoryRegistry;
using uitest::RegistryContents;

struct RegistryFixture : ::testing::Test {
  std::shared_ptr<RegistryContents> Contents = std::make_shared<RegistryContents>();
  RegistrySettingsStore Store{std::make_unique<InMemoryRegistry>(Contents)};

  RegistryContents::Value &At(const char *key, const char *name) {
    return Contents->Keys.at(key).at(name);
  }
};

TEST_F(RegistryFixture, AssociationKeysQuoteTheOpenCommand) {
  Store.WriteFileAssociation("C:\\Program Files\\Orv\\kestrune.exe");
  EXPECT_EQ(std::get<std::string>(At("hkcr\\kestrune\\defaulticon", "")),
            "C:\\Program Files\\Orv\\kestrune.exe,0");
  EXPECT_EQ(std::get<std::string>(At("hkcr\\kestrune\\shell\\open\\command", "")),
            "\"C:\\Program Files\\Orv\\kestrune.exe\" \"%1\"");
  EXPECT_EQ(std::get<std::string>(At("hkcr\\.mot", "")), "Kestrune");
  EXPECT_EQ(std::get<std::string>(At("hkcr\\kestrune", "")), "Motorola S-Record Image");
  // Nothing of it lands in the user's settings.
  EXPECT_EQ(Contents->Keys.count("hkcu\\software\\orv\\kestrune"), 0u);
}

TEST_F(RegistryFixture, AssociationKeyThatCannotOpenIsSkipped) {
  Contents->Refused.insert("hkcr\\kestrune\\defaulticon");
  Store.WriteFileAssociation("C:\\k.exe");
  EXPECT_EQ(Contents->Keys.count("hkcr\\kestrune\\defaulticon"), 0u);
  EXPECT_EQ(std::get<std::string>(At("hkcr\\kestrune\\shell\\open\\command", "")),
            "\"C:\\k.exe\" \"%1\"");
  EXPECT_EQ(std::get<std::string>(At("hkcr\\.mot", "")), "Kestrune");
}

TEST_F(RegistryFixture, FirstLoadWritesTheDefaultsWithTheirTypes) {
  ASSERT_TRUE(Store.OpenSettings(SettingsUse::Load));
  EXPECT_EQ(ReadRegString(Store, FlashFileValue, ""), "");
  for (const char *suffix : {"", "1", "2", "3", "4", "5", "6", "7"})
    EXPECT_EQ(ReadPortSetting(Store, PortValueName(suffix)), "COM1");
  Store.CloseSettings();

  auto &values = Contents->Keys.at("hkcu\\software\\orv\\kestrune");
  EXPECT_EQ(std::get<std::string>(values.at("")), "temp");
  EXPECT_EQ(std::get<std::string>(values.at("Flash File")), "");
  EXPECT_EQ(values.size(), 10u);
  for (const char *name : {"COMM Port", "COMM Port1", "COMM Port7"})
    EXPECT_EQ(std::get<int32_t>(values.at(name)), 1) << name;
}

TEST_F(RegistryFixture, StoredValuesAreReadAndKeptAsTheyAre) {
  auto &values = Contents->Keys["hkcu\\software\\orv\\kestrune"];
  values["Flash File"] = std::string("D:\\images\\phone.mot");
  values["COMM Port3"] = int32_t{12};
  ASSERT_TRUE(Store.OpenSettings(SettingsUse::Load));
  EXPECT_EQ(ReadRegString(Store, FlashFileValue, ""), "D:\\images\\phone.mot");
  EXPECT_EQ(ReadPortSetting(Store, PortValueName("3")), "COM12");
  EXPECT_EQ(std::get<int32_t>(values.at("COMM Port3")), 12);
}

TEST_F(RegistryFixture, ValueOfTheWrongTypeIsTreatedAsMissing) {
  auto &values = Contents->Keys["hkcu\\software\\orv\\kestrune"];
  values["COMM Port2"] = std::string("7");
  values["Flash File"] = int32_t{3};
  ASSERT_TRUE(Store.OpenSettings(SettingsUse::Load));
  EXPECT_EQ(ReadRegInteger(Store, "COMM Port2", 1), 1);
  EXPECT_EQ(std::get<int32_t>(values.at("COMM Port2")), 1);
  EXPECT_EQ(ReadRegString(Store, "Flash File", "none"), "none");
  EXPECT_EQ(std::get<std::string>(values.at("Flash File")), "none");
}

TEST_F(RegistryFixture, SaveStoresPortNumbersAndDefaultForEmptyList) {
  ASSERT_TRUE(Store.OpenSettings(SettingsUse::Save));
  WritePortSetting(Store, PortValueName("5"), "COM17");
  WritePortSetting(Store, PortValueName("6"), "");
  WritePortSetting(Store, PortValueName("7"), "COM3");
  Store.CloseSettings();
  auto &values = Contents->Keys.at("hkcu\\software\\orv\\kestrune");
  EXPECT_EQ(std::get<int32_t>(values.at("COMM Port5")), 17);
  EXPECT_EQ(std::get<int32_t>(values.at("COMM Port6")), 1);
  EXPECT_EQ(std::get<int32_t>(values.at("COMM Port7")), 3);
  // A save does not mark the key again.
  EXPECT_EQ(values.count(""), 0u);
}

TEST_F(RegistryFixture, PortNumbersOfAnySizeComeBackAsSaved) {
  for (const char *port : {"COM9", "COM30", "COM123", "COM256"}) {
    ASSERT_TRUE(Store.OpenSettings(SettingsUse::Save));
    WritePortSetting(Store, PortValueName("1"), port);
    Store.CloseSettings();
    ASSERT_TRUE(Store.OpenSettings(SettingsUse::Load));
    EXPECT_EQ(ReadPortSetting(Store, PortValueName("1")), port);
    Store.CloseSettings();
  }
}

TEST_F(RegistryFixture, SettingsKeyThatCannotOpenIsReported) {
  Contents->Refused.insert("hkcu\\software\\orv\\kestrune");
  EXPECT_FALSE(Store.OpenSettings(SettingsUse::Load));
}

TEST(PortNumbers, NumberIsEveryDigitAfterTheFirstThree) {
  EXPECT_EQ(PortNumberOfText("COM3"), 3);
  EXPECT_EQ(PortNumberOfText("COM24"), 24);
  EXPECT_EQ(PortNumberOfText("COM123"), 123);
  EXPECT_EQ(PortNumberOfText("COM256"), 256);
  EXPECT_EQ(PortNumberOfText("COM1234567890"), 1);
  EXPECT_EQ(PortNumberOfText("COM"), 1);
  EXPECT_EQ(PortNumberOfText("COMx"), 1);
}

#ifndef _WIN32
// The XDG association files are Linux's; Windows keeps it in the registry.
std::string ReadAll(const std::filesystem::path &path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct XdgFixture : ::testing::Test {
  std::filesystem::path Root;
  XdgDirectories Dirs;
  void SetUp() override {
    char pattern[] = "/tmp/kestrune-xdg-XXXXXX";
    Root = ::mkdtemp(pattern);
    Dirs = {(Root / "data").string(), (Root / "config").string()};
  }
  void TearDown() override { std::filesystem::remove_all(Root); }
};

TEST_F(XdgFixture, WritesEntryMimeTypeAndDefaultHandler) {
  XdgAssociationResult result = WriteXdgAssociation("/opt/k/bin/kestrune", Dirs);
  EXPECT_TRUE(result.Written) << result.Error;
  EXPECT_TRUE(result.MimeChanged);
  std::string entry = ReadAll(Root / "data/applications/kestrune.desktop");
  EXPECT_NE(entry.find("Exec=\"/opt/k/bin/kestrune\" %f\n"), std::string::npos) << entry;
  EXPECT_NE(entry.find("MimeType=text/x-motorola-srecord;"), std::string::npos);
  std::string mime = ReadAll(Root / "data/mime/packages/kestrune-mot.xml");
  EXPECT_NE(mime.find("<comment>Motorola S-Record Image</comment>"), std::string::npos);
  EXPECT_NE(mime.find("<glob pattern=\"*.mot\"/>"), std::string::npos);
  EXPECT_EQ(ReadAll(Root / "config/mimeapps.list"),
            "[Default Applications]\ntext/x-motorola-srecord=kestrune.desktop\n");
}

TEST_F(XdgFixture, EveryStartPointsTheEntryAtTheProgramThatRan) {
  WriteXdgAssociation("/old/kestrune", Dirs);
  WriteXdgAssociation("/new place/kestrune", Dirs);
  std::string entry = ReadAll(Root / "data/applications/kestrune.desktop");
  EXPECT_NE(entry.find("Exec=\"/new place/kestrune\" %f"), std::string::npos) << entry;
  EXPECT_EQ(entry.find("/old/"), std::string::npos);
}

TEST_F(XdgFixture, UnwritableDataHomeIsReportedWithItsCode) {
  std::ofstream(Root / "data") << "a file where a directory should be";
  XdgAssociationResult result = WriteXdgAssociation("/opt/k/kestrune", Dirs);
  EXPECT_FALSE(result.Written);
  EXPECT_NE(result.Error.find("applications/kestrune.desktop"), std::string::npos) << result.Error;
  EXPECT_NE(result.Error.find("(20)"), std::string::npos) << result.Error; // ENOTDIR
}

TEST(XdgAssociationText, ExecArgumentEscapesReservedCharacters) {
  EXPECT_EQ(DesktopExecArgument("/a b/k"), "\"/a b/k\"");
  EXPECT_EQ(DesktopExecArgument("/a\"b/$k`%"), "\"/a\\\\\"b/\\\\$k\\\\`%%\"");
  EXPECT_EQ(DesktopExecArgument("/a\\b"), "\"/a\\\\\\\\b\"");
}

TEST(XdgAssociationText, DefaultHandlerEditKeepsOtherLines) {
  std::string before = "[Added Associations]\ntext/plain=gedit.desktop;\n\n"
                       "[Default Applications]\ntext/html=firefox.desktop\n"
                       "text/x-motorola-srecord=other.desktop\n";
  std::string after = SetDefaultHandler(before, "text/x-motorola-srecord", "kestrune.desktop");
  EXPECT_EQ(after, "[Added Associations]\ntext/plain=gedit.desktop;\n\n"
                   "[Default Applications]\ntext/html=firefox.desktop\n"
                   "text/x-motorola-srecord=kestrune.desktop\n");
  std::string added = SetDefaultHandler("[Default Applications]\ntext/html=f.desktop\n",
                                        "text/x-motorola-srecord", "kestrune.desktop");
  EXPECT_EQ(added, "[Default Applications]\ntext/html=f.desktop\n"
                   "text/x-motorola-srecord=kestrune.desktop\n");
  EXPECT_EQ(SetDefaultHandler(after, "text/x-motorola-srecord", "kestrune.desktop"), after);
}

#endif

} // namespace
} // namespace kestrune
