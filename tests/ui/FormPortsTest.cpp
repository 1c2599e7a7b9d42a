// The window's port lists while it runs: a pseudo-terminal that appears and
// disappears, saved ports that are missing, two channels on one port, stable
// names from a fake /dev/serial tree, and the meaning of an error code
// beside the status text.
#include "engine/ChannelRow.h"
#include "engine/CommsThread.h"
#include "platform/SettingsStore.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/ElidingStatusBar.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QPushButton>
#include <QSettings>
#include <QToolButton>

#include <filesystem>

namespace kestrune {
namespace {

using namespace uitest;
namespace fs = std::filesystem;

// The rescan timer runs once a second; a change must show within a few.
constexpr int RescanWaitMs = 5000;

struct PortsFixture : ::testing::Test {
  TempXdg Xdg;
  TestPty PortA, PortB;
  fs::path Slot = fs::path(Xdg.Root().toStdString()) / "slot";
  fs::path Serial = fs::path(Xdg.Root().toStdString()) / "serial";
  std::unique_ptr<ScopedEnv> Ports = std::make_unique<ScopedEnv>(
      "KESTRUNE_PORTS", PortA.Path() + ":" + PortB.Path() + ":" + Slot.string());
  ScopedEnv SerialRoot{"KESTRUNE_SERIAL_ROOT", Serial.string()};
  std::unique_ptr<TKestruneUiForm> Form;

  void TearDown() override {
    if (Form) {
      Form->StopAllClick();
      EXPECT_TRUE(QTest::qWaitFor([&] { return Form->AllChannelsIdle(); }, 5000));
    }
    Form.reset();
    EXPECT_EQ(TCommsThread::LiveWorkers(), 0);
  }
  void Open() { Form = MakeForm(ImmediateLoader(0, "ok")); }
  void OpenReady() {
    Form = MakeForm(ImmediateLoader(0, "MOT ready", "/nonexistent/image.bin"));
    Form->StartMotLoad("/nonexistent/image.bin");
    ASSERT_TRUE(WaitForLoad(*Form));
    ASSERT_EQ(Form->ImageReadyValue(), 1);
  }
  QComboBox *List(int channel) {
    return Control<QComboBox>(Form.get(), ChannelControlName(channel, "PortCBox"));
  }
  QStringList Texts(int channel) {
    QStringList texts;
    for (int i = 0; i < List(channel)->count(); ++i)
      texts << List(channel)->itemText(i);
    return texts;
  }
  QString Chosen(int channel) { return List(channel)->currentData().toString(); }
  void Choose(int channel, const std::string &port) {
    int index = List(channel)->findData(QString::fromStdString(port));
    ASSERT_GE(index, 0) << port;
    List(channel)->setCurrentIndex(index);
  }
  QVariant Stored(const std::string &name) {
    QSettings settings(Xdg.SettingsFile(), QSettings::IniFormat);
    return settings.value(QString::fromStdString(name));
  }
  void Store(const std::string &name, const std::string &value) {
    QSettings settings(Xdg.SettingsFile(), QSettings::IniFormat);
    settings.setValue(QString::fromStdString(name), QString::fromStdString(value));
  }
  static std::string PortName(int channel) { return PortValueName(ChannelRows[channel].Suffix); }
};

TEST_F(PortsFixture, APseudoTerminalThatAppearsAndGoesIsSeenWhileTheWindowRuns) {
  Store(PortName(4), PortB.Path());
  OpenReady();
  LineDrainer drainer({PortA.Master()});
  Choose(1, PortA.Path());
  Form->StartClick(1);
  ASSERT_NE(Form->Worker(1), nullptr);
  const QStringList runningList = Texts(1);
  EXPECT_EQ(Texts(0).size(), 2);

  auto pty = std::make_unique<TestPty>();
  fs::create_symlink(pty->Path(), Slot);
  const QString slot = QString::fromStdString(Slot.string());
  ASSERT_TRUE(QTest::qWaitFor([&] { return Texts(0).contains(slot); }, RescanWaitMs));
  for (int channel : {0, 2, 3, 4, 5, 6, 7})
    EXPECT_TRUE(Texts(channel).contains(slot)) << channel;
  EXPECT_EQ(Chosen(4).toStdString(), PortB.Path()) << "a choice is not disturbed";
  EXPECT_EQ(Texts(1), runningList) << "a running channel's list is left alone";
  Choose(6, Slot.string());
  ASSERT_TRUE(Control<QPushButton>(Form.get(), ChannelControlName(6, "StartButton"))->isEnabled());

  // Unplugged: the device and its node go. (The link is removed with the
  // pseudo-terminal: other programs on the machine may take its number at
  // once, and the link would then lead to their terminal.)
  pty.reset();
  fs::remove(Slot);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Texts(0).contains(slot); }, RescanWaitMs));
  EXPECT_EQ(Texts(6).last(), slot + " (missing)") << "the chosen port stays, marked";
  EXPECT_EQ(Chosen(6), slot);
  EXPECT_NE(List(6)->toolTip().indexOf("not present"), -1) << List(6)->toolTip().toStdString();
  EXPECT_EQ(List(0)->toolTip(), "Select COMM Port");
  EXPECT_EQ(Chosen(4).toStdString(), PortB.Path());
  EXPECT_EQ(Texts(1), runningList);
  EXPECT_NE(Form->Worker(1), nullptr) << "the running channel runs on";

  // Plugged in again: the same entry, no longer marked.
  auto again = std::make_unique<TestPty>();
  fs::remove(Slot);
  fs::create_symlink(again->Path(), Slot);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Texts(6).contains(slot); }, RescanWaitMs));
  EXPECT_EQ(List(6)->currentText(), slot);
  EXPECT_EQ(Texts(6).size(), 3);
}

TEST_F(PortsFixture, SavedPortsThatAreMissingStayNamedAndAreSavedAgainUnchanged) {
  Ports.reset(); // nothing plugged in
  Ports = std::make_unique<ScopedEnv>("KESTRUNE_PORTS", std::string());
  for (int channel = 0; channel < ChannelCount; ++channel)
    Store(PortName(channel), "/dev/serial/by-path/kestrune-slot-" + std::to_string(channel + 1));
  Open();
  for (int channel = 0; channel < ChannelCount; ++channel) {
    QString saved = QString("/dev/serial/by-path/kestrune-slot-%1").arg(channel + 1);
    EXPECT_EQ(Texts(channel), QStringList{saved + " (missing)"}) << channel;
    EXPECT_EQ(Chosen(channel), saved);
    EXPECT_FALSE(List(channel)->itemIcon(0).isNull()) << "marked with an icon as well";
    EXPECT_NE(List(channel)->itemData(0, Qt::ToolTipRole).toString().indexOf("not present"), -1);
  }
  Form->RescanPorts();
  EXPECT_EQ(Chosen(3), "/dev/serial/by-path/kestrune-slot-4");
  Form->close();
  Form.reset();
  for (int channel = 0; channel < ChannelCount; ++channel)
    EXPECT_EQ(Stored(PortName(channel)).toString().toStdString(),
              "/dev/serial/by-path/kestrune-slot-" + std::to_string(channel + 1));
}

TEST_F(PortsFixture, TwoChannelsOnOnePortAreRefusedBeforeAnythingOpens) {
  OpenReady();
  LineDrainer drainer({PortA.Master(), PortB.Master()});
  for (int channel = 0; channel < ChannelCount; ++channel)
    List(channel)->setCurrentIndex(-1);
  Choose(0, PortA.Path());
  Choose(2, PortA.Path());
  Choose(5, PortB.Path());
  const QString clash = QString("ERROR Channels 1 and 3 are both set to port %1: "
                                "give each channel a port of its own")
                            .arg(QString::fromStdString(PortA.Path()));

  QTest::mouseClick(Control<QPushButton>(Form.get(), "StartAllButton"), Qt::LeftButton);
  EXPECT_TRUE(Form->AllChannelsIdle()) << "Start All opens nothing";
  EXPECT_EQ(StatusText(Form.get(), 0), clash);
  EXPECT_EQ(StatusText(Form.get(), 2), clash);
  EXPECT_TRUE(Control<QToolButton>(Form.get(), "FlashFileButton")->isEnabled());
  EXPECT_NE(Form->Log(2).LinesAfter(0).back().find(clash.toStdString()), std::string::npos);

  // One channel runs; a second Start on its port is refused, the first runs on.
  Form->StartClick(0);
  ASSERT_NE(Form->Worker(0), nullptr);
  Form->StartClick(2);
  EXPECT_EQ(Form->Worker(2), nullptr);
  EXPECT_EQ(StatusText(Form.get(), 2), clash);
  EXPECT_NE(Form->Worker(0), nullptr);
  EXPECT_NE(StatusText(Form.get(), 0), clash);
  Form->StartClick(5);
  EXPECT_NE(Form->Worker(5), nullptr) << "a port of its own starts";

  // The same port under a second name (a link to it) is the same port.
  fs::create_symlink(PortB.Path(), Slot);
  Form->StopClick(5);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Form->Worker(5) == nullptr; }, 5000));
  List(3)->addItem("link", QString::fromStdString(Slot.string()));
  List(3)->setCurrentIndex(List(3)->count() - 1);
  Form->StartAllClick();
  EXPECT_EQ(Form->Worker(3), nullptr);
  EXPECT_EQ(Form->Worker(5), nullptr);
  EXPECT_NE(StatusText(Form.get(), 3).indexOf("Channels 4 and 6"), -1)
      << StatusText(Form.get(), 3).toStdString();
}

TEST_F(PortsFixture, StableNamesAreShownChosenAndStoredAndFollowTheSlot) {
  const std::string slot = (Serial / "by-path/pci-0000:00:14.0-usb-0:3:1.0-port0").string();
  const std::string id = (Serial / "by-id/usb-Kestrune_Bench_K0042-if00-port0").string();
  fs::create_directories(Serial / "by-path");
  fs::create_directories(Serial / "by-id");
  fs::create_symlink(PortB.Path(), slot);
  fs::create_symlink(PortB.Path(), id);
  Store(PortName(2), PortB.Path()); // saved by its kernel name before
  {
    Open();
    EXPECT_EQ(Chosen(2).toStdString(), slot);
    const QString label = List(2)->currentText();
    EXPECT_TRUE(label.startsWith(QString::fromStdString(PortB.Path()))) << label.toStdString();
    EXPECT_NE(label.indexOf("by-path: pci-0000:00:14.0-usb-0:3:1.0-port0"), -1);
    EXPECT_NE(label.indexOf("by-id: usb-Kestrune_Bench_K0042-if00-port0"), -1);
    Form->close();
    Form.reset();
  }
  EXPECT_EQ(Stored(PortName(2)).toString().toStdString(), slot) << "the stable name is kept";

  // Replugged: another kernel name in the same slot.
  TestPty replugged;
  fs::remove(slot);
  fs::create_symlink(replugged.Path(), slot);
  Ports.reset();
  Ports = std::make_unique<ScopedEnv>("KESTRUNE_PORTS", PortA.Path() + ":" + replugged.Path());
  Open();
  EXPECT_EQ(Chosen(2).toStdString(), slot);
  EXPECT_TRUE(List(2)->currentText().startsWith(QString::fromStdString(replugged.Path())));
}

TEST_F(PortsFixture, AnErrorCodeGetsItsMeaningInTheToolTipAndTheLog) {
  Store(PortName(1), "/dev/kestrune-gone");
  OpenReady();
  Form->StartClick(1);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Form->Worker(1) == nullptr; }, 5000));
  const QString failure = "ERROR 해당 COMM port 를 열 수 없습니다. (2)";
  EXPECT_EQ(StatusText(Form.get(), 1), failure) << "the status text stays exact";
  auto *status = Control<ElidingStatusBar>(Form.get(), ChannelControlName(1, "StatusBar"));
  EXPECT_EQ(status->ToolTipText(),
            "Status Line\n" + failure + "\n(2) ENOENT: No such file or directory");
  bool logged = false;
  for (const std::string &line : Form->Log(1).LinesAfter(0))
    logged = logged || line.find(failure.toStdString() + "  [(2) ENOENT: No such file or directory]") !=
                           std::string::npos;
  EXPECT_TRUE(logged);
}

} // namespace
} // namespace kestrune
