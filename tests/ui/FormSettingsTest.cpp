// What the window keeps between runs (INI file in a temporary XDG home):
// first run, stored ports, ports that have gone, the save at exit, the image
// file name and the command line.
#include "engine/ChannelRow.h"
#include "tests/ui/UiTestSupport.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>

namespace kestrune {
namespace {

using namespace uitest;

struct SettingsFixture : ::testing::Test {
  TempXdg Xdg;
  TestPty PortA, PortB, PortC;
  std::unique_ptr<ScopedEnv> Ports =
      std::make_unique<ScopedEnv>("KESTRUNE_PORTS", PortA.Path() + ":" + PortB.Path() + ":" + PortC.Path());
  QString First = FirstPort();

  QString FirstPort() {
    QStringList all{QString::fromStdString(PortA.Path()), QString::fromStdString(PortB.Path()),
                    QString::fromStdString(PortC.Path())};
    all.sort();
    return all.front();
  }
  QVariant Stored(const char *name) {
    QSettings settings(Xdg.SettingsFile(), QSettings::IniFormat);
    return settings.value(name);
  }
  void Store(const char *name, const QVariant &value) {
    QSettings settings(Xdg.SettingsFile(), QSettings::IniFormat);
    settings.setValue(name, value);
  }
  QComboBox *Ports_(TKestruneUiForm &form, int channel) {
    return Control<QComboBox>(&form, ChannelControlName(channel, "PortCBox"));
  }
};

TEST_F(SettingsFixture, FirstRunCreatesTheFileWithDefaultsAndSelectsFirstEntries) {
  ASSERT_FALSE(QFileInfo::exists(Xdg.SettingsFile()));
  auto form = MakeForm(ImmediateLoader(0, "ok"));
  ASSERT_TRUE(QFileInfo::exists(Xdg.SettingsFile()));
  EXPECT_EQ(Stored("Flash File").toString(), "");
  EXPECT_TRUE(Stored("Flash File").isValid());
  for (int channel = 0; channel < ChannelCount; ++channel) {
    std::string name = "COMM Port" + std::string(ChannelRows[channel].Suffix);
    EXPECT_EQ(Stored(name.c_str()).toString(), "/dev/ttyS0");
    EXPECT_EQ(Ports_(*form, channel)->currentText(), First);
  }
  EXPECT_EQ(Control<QLineEdit>(form.get(), "FlashFileEdit")->text(), "");
  EXPECT_FALSE(form->ImageLoadRunning());
}

TEST_F(SettingsFixture, StoredPortIsSelectedAndGonePortStaysChosenMarkedMissing) {
  Store("COMM Port3", QString::fromStdString(PortC.Path()));
  Store("COMM Port", "/dev/kestrune-gone");
  Store("COMM Port7", QString::fromStdString(PortB.Path()));
  {
    auto form = MakeForm(ImmediateLoader(0, "ok"));
    EXPECT_EQ(Ports_(*form, 3)->currentText().toStdString(), PortC.Path());
    EXPECT_EQ(Ports_(*form, 7)->currentText().toStdString(), PortB.Path());
    // Never silently replaced by another port.
    EXPECT_EQ(Ports_(*form, 0)->currentText(), "/dev/kestrune-gone (missing)");
    EXPECT_EQ(Ports_(*form, 0)->count(), 4);
    EXPECT_EQ(Ports_(*form, 1)->count(), 3) << "the missing port belongs to its channel only";
  }
  EXPECT_EQ(Stored("COMM Port").toString(), "/dev/kestrune-gone");
}

TEST_F(SettingsFixture, ExitStoresEachListsTextAndTheDefaultForAnEmptyList) {
  {
    auto form = MakeForm(ImmediateLoader(0, "ok"));
    Ports_(*form, 5)->setCurrentText(QString::fromStdString(PortC.Path()));
    Ports_(*form, 6)->setCurrentIndex(-1);
    form->close();
  }
  EXPECT_EQ(Stored("COMM Port5").toString().toStdString(), PortC.Path());
  EXPECT_EQ(Stored("COMM Port6").toString(), "/dev/ttyS0");
  EXPECT_EQ(Stored("COMM Port").toString(), First);

  // Started with nothing plugged in: every saved port stays as it was.
  Ports.reset(); // restore first, then replace: never an unset variable
  Ports = std::make_unique<ScopedEnv>("KESTRUNE_PORTS", std::string());
  {
    auto form = MakeForm(ImmediateLoader(0, "ok"));
    EXPECT_EQ(Ports_(*form, 5)->count(), 1);
    EXPECT_EQ(Ports_(*form, 5)->currentText().toStdString(), PortC.Path() + " (missing)");
  }
  EXPECT_EQ(Stored("COMM Port5").toString().toStdString(), PortC.Path());
  EXPECT_EQ(Stored("COMM Port6").toString(), "/dev/ttyS0");
  EXPECT_EQ(Stored("COMM Port").toString(), First);
}

TEST_F(SettingsFixture, FailedFileIsSavedAndTriedAgainAtTheNextStart) {
  QString file = Xdg.Root() + "/gone/handset.MOT";
  {
    auto form = MakeForm(ImmediateLoader(1, "ERROR Could not open MOT file (2)"),
                         {"kestrune", file});
    ASSERT_TRUE(WaitForLoad(*form));
    EXPECT_EQ(form->ImageReadyValue(), 0);
  }
  EXPECT_EQ(Stored("Flash File").toString(), file);

  ControlledLoader loader;
  auto form = MakeForm(loader.Routine());
  EXPECT_EQ(Control<QLineEdit>(form.get(), "FlashFileEdit")->text(), file);
  loader.Finish(1, "ERROR Could not open MOT file (2)");
  ASSERT_TRUE(WaitForLoad(*form));
  EXPECT_EQ(loader.SeenFileName(), file.toStdString());
  for (int channel = 0; channel < ChannelCount; ++channel) {
    EXPECT_EQ(StatusText(form.get(), channel), "ERROR Could not open MOT file (2)");
    EXPECT_FALSE(Control<QPushButton>(form.get(), ChannelControlName(channel, "StartButton"))->isEnabled());
  }
}

TEST_F(SettingsFixture, CommandLineTakesMotInAnyCaseAndIgnoresOtherFiles) {
  Store("Flash File", "/remembered/image.mot");
  {
    auto form = MakeForm(ImmediateLoader(1, "x"), {"kestrune", "/images/X.MOT"});
    EXPECT_EQ(Control<QLineEdit>(form.get(), "FlashFileEdit")->text(), "/images/X.MOT");
    WaitForLoad(*form);
  }
  EXPECT_EQ(Stored("Flash File").toString(), "/images/X.MOT");
  {
    auto form = MakeForm(ImmediateLoader(1, "x"), {"kestrune", "/images/X.bin", "/other/Y.mot"});
    EXPECT_EQ(Control<QLineEdit>(form.get(), "FlashFileEdit")->text(), "/images/X.MOT");
    WaitForLoad(*form);
  }
  {
    auto form = MakeForm(ImmediateLoader(1, "x"), {"kestrune", "/images/mot"});
    EXPECT_EQ(Control<QLineEdit>(form.get(), "FlashFileEdit")->text(), "/images/X.MOT");
    WaitForLoad(*form);
  }
}

TEST_F(SettingsFixture, UnreachableSettingsAreReportedAndLeaveListsUnchosen) {
  // A file where the configuration directory should be.
  QString blocked = Xdg.Root() + "/blocked";
  QFile(blocked).open(QIODevice::WriteOnly);
  ScopedEnv config("XDG_CONFIG_HOME", blocked.toStdString());
  QString text, caption;
  auto watch = OnNextModal([&](QWidget *modal) {
    auto *box = qobject_cast<QMessageBox *>(modal);
    ASSERT_NE(box, nullptr);
    text = box->text();
    caption = box->windowTitle();
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    box->accept();
  });
  auto form = MakeForm(ImmediateLoader(0, "ok"), {"kestrune", "/images/A.mot"});
  EXPECT_EQ(text, "Could not access Registry");
  EXPECT_EQ(caption, "ERROR");
  for (int channel = 0; channel < ChannelCount; ++channel)
    EXPECT_EQ(Ports_(*form, channel)->currentIndex(), -1);
  // The command line is still taken.
  EXPECT_EQ(Control<QLineEdit>(form.get(), "FlashFileEdit")->text(), "/images/A.mot");
  WaitForLoad(*form);
}

} // namespace
} // namespace kestrune
