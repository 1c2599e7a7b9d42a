// The window at start-up and without an image: its controls and texts, and
// what Start, Stop, Start All and Stop All do before any image is ready.
#include "engine/ChannelRow.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/SignalCloser.h"

#include <csignal>

#include <gtest/gtest.h>

#include <QComboBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

namespace kestrune {
namespace {

using namespace uitest;

struct StartupFixture : ::testing::Test {
  TempXdg Xdg;
  TestPty PortA, PortB;
  ScopedEnv Ports{"KESTRUNE_PORTS", PortA.Path() + ":" + PortB.Path()};
  std::unique_ptr<TKestruneUiForm> Form = MakeForm(ImmediateLoader(0, "MOT ok"));
};

TEST_F(StartupFixture, ControlsCarryTheirNamesTextsAndHints) {
  QWidget *form = Form.get();
  EXPECT_EQ(form->windowTitle(), "Zel bufferedwrite 8ch");
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), "Kestrune");
  EXPECT_EQ(Control<QGroupBox>(form, "RadioGroup1")->title(), "Speed");
  EXPECT_EQ(Control<QRadioButton>(form, "Radio230Button")->text(), "115K");
  EXPECT_EQ(Control<QRadioButton>(form, "Radio460Button")->text(), "460K");
  EXPECT_TRUE(Control<QRadioButton>(form, "Radio920Button")->isChecked());
  EXPECT_EQ(Control<QRadioButton>(form, "Radio920Button")->text(), "920K");
  EXPECT_EQ(Control<QPushButton>(form, "StartAllButton")->text(), "Start All");
  EXPECT_EQ(Control<QPushButton>(form, "StartAllButton")->toolTip(), "Start Downloading (F5)");
  EXPECT_EQ(Control<QPushButton>(form, "StopAllButton")->text(), "Stop All");
  EXPECT_EQ(Control<QPushButton>(form, "StopAllButton")->toolTip(), "Stop Downloading (Shift+F5, Esc)");
  auto *tabs = Control<QTabWidget>(form, "TypePageControl");
  EXPECT_EQ(tabs->count(), 1);
  EXPECT_EQ(tabs->tabText(0), "Flash Write");
  EXPECT_EQ(Control<QGroupBox>(form, "GroupBox2")->title(), "Select File to Download");
  EXPECT_EQ(Control<QLabel>(form, "Label8")->text(), "File");
  auto *edit = Control<QLineEdit>(form, "FlashFileEdit");
  EXPECT_TRUE(edit->isReadOnly());
  EXPECT_EQ(edit->toolTip(), "Flash Download File");
  EXPECT_EQ(Control<QToolButton>(form, "FlashFileButton")->toolTip(), "Select Flash Download File");
  EXPECT_FALSE(Control<QToolButton>(form, "FlashFileButton")->icon().isNull());
  EXPECT_FALSE(Control<QTimer>(form, "CommTimer")->isActive());
  EXPECT_TRUE(form->font().bold());

  const char *labels[] = {"Label2", "Label1", "Label3", "Label5",
                          "Label6", "Label7", "Label9", "Label10"};
  for (int channel = 0; channel < ChannelCount; ++channel) {
    SCOPED_TRACE(channel + 1);
    auto *label = Control<QLabel>(form, labels[channel]);
    EXPECT_EQ(label->text(), QString("Num %1. Port").arg(channel + 1));
    EXPECT_EQ(label->font().family(), "Courier New");
    EXPECT_TRUE(label->font().underline());
    EXPECT_TRUE(label->font().bold());
    EXPECT_TRUE(QFontInfo(label->font()).fixedPitch());
    auto *ports = Control<QComboBox>(form, ChannelControlName(channel, "PortCBox"));
    EXPECT_EQ(ports->maxVisibleItems(), 20);
    EXPECT_EQ(ports->toolTip(), "Select COMM Port");
    EXPECT_FALSE(ports->isEditable());
    auto *start = Control<QPushButton>(form, ChannelControlName(channel, "StartButton"));
    EXPECT_EQ(start->text(), "Start");
    EXPECT_EQ(start->toolTip(), "Start Downloading");
    EXPECT_FALSE(start->icon().isNull());
    auto *stop = Control<QPushButton>(form, ChannelControlName(channel, "StopButton"));
    EXPECT_EQ(stop->text(), "Stop");
    EXPECT_EQ(stop->toolTip(), "Stop Downloading");
    EXPECT_FALSE(stop->isEnabled());
    auto *bar = Control<QProgressBar>(form, ChannelControlName(channel, "ProgressBar"));
    EXPECT_EQ(bar->minimum(), 1);
    EXPECT_EQ(bar->maximum(), 100);
    EXPECT_EQ(bar->value(), 1);
    EXPECT_EQ(bar->toolTip(), "Progress Bar");
    EXPECT_EQ(Control<QStatusBar>(form, ChannelControlName(channel, "StatusBar"))->toolTip(),
              "Status Line");
    EXPECT_EQ(StatusText(form, channel).toStdString(), ChannelRows[channel].IdleText);
  }
}

TEST_F(StartupFixture, ChannelsOneToThreeLeftUnderTheGlobalControlsFourToEightRight) {
  Form->show();
  auto x = [&](const char *name) { return Control<QWidget>(Form.get(), name)->mapTo(Form.get(), QPoint()).x(); };
  auto y = [&](const char *name) { return Control<QWidget>(Form.get(), name)->mapTo(Form.get(), QPoint()).y(); };
  EXPECT_EQ(x("PortCBox"), x("PortCBox2"));
  EXPECT_LT(y("TypePageControl"), y("PortCBox"));
  EXPECT_LT(y("RadioGroup1"), y("TypePageControl"));
  EXPECT_LT(y("PortCBox"), y("PortCBox1"));
  EXPECT_LT(y("PortCBox1"), y("PortCBox2"));
  EXPECT_GT(x("PortCBox3"), x("StopButton"));
  EXPECT_EQ(x("PortCBox3"), x("PortCBox7"));
  EXPECT_LT(y("PortCBox3"), y("PortCBox7"));
}

TEST_F(StartupFixture, StartButtonsStayDisabledWithoutImage) {
  for (int channel = 0; channel < ChannelCount; ++channel)
    EXPECT_FALSE(Control<QPushButton>(Form.get(), ChannelControlName(channel, "StartButton"))->isEnabled());
  EXPECT_EQ(Form->ImageReadyValue(), 0);
}

TEST_F(StartupFixture, StartWithoutImageAsksForAFile) {
  Form->StartClick(3);
  EXPECT_EQ(StatusText(Form.get(), 3), " Select Flash Download File !!!");
  EXPECT_TRUE(Form->AllChannelsIdle());
  EXPECT_TRUE(Control<QToolButton>(Form.get(), "FlashFileButton")->isEnabled());
  EXPECT_EQ(StatusText(Form.get(), 0).toStdString(), ChannelRows[0].IdleText);
}

TEST_F(StartupFixture, StartAllWithoutImageAsksOnChannelOneOnly) {
  QTest::mouseClick(Control<QPushButton>(Form.get(), "StartAllButton"), Qt::LeftButton);
  EXPECT_EQ(StatusText(Form.get(), 0), " Select Flash Download File !!!");
  for (int channel = 1; channel < ChannelCount; ++channel)
    EXPECT_EQ(StatusText(Form.get(), channel).toStdString(), ChannelRows[channel].IdleText);
  EXPECT_TRUE(Form->AllChannelsIdle());
  EXPECT_TRUE(Control<QTabWidget>(Form.get(), "TypePageControl")->isEnabled());
}

TEST_F(StartupFixture, StopOnIdleChannelOnlyChangesItsLine) {
  auto *start = Control<QPushButton>(Form.get(), "StartButton4");
  auto *stop = Control<QPushButton>(Form.get(), "StopButton4");
  Form->StopClick(5);
  EXPECT_EQ(StatusText(Form.get(), 5), "Shutting down COMM");
  EXPECT_EQ(StatusText(Form.get(), 4).toStdString(), ChannelRows[4].IdleText);
  EXPECT_FALSE(start->isEnabled());
  EXPECT_FALSE(stop->isEnabled());
  EXPECT_TRUE(Form->AllChannelsIdle());
}

TEST_F(StartupFixture, StopAllGivesIdleChannelsTheirIdleText) {
  for (int channel = 0; channel < ChannelCount; ++channel)
    Form->StopClick(channel);
  QTest::mouseClick(Control<QPushButton>(Form.get(), "StopAllButton"), Qt::LeftButton);
  for (int channel = 0; channel < ChannelCount; ++channel)
    EXPECT_EQ(StatusText(Form.get(), channel).toStdString(), ChannelRows[channel].IdleText);
}

} // namespace
} // namespace kestrune

namespace kestrune {
namespace {

using namespace uitest;

TEST_F(StartupFixture, TermSignalClosesTheWindowAsItsCloseButtonDoes) {
  Form->show();
  Control<QComboBox>(Form.get(), "PortCBox4")->setCurrentText(QString::fromStdString(PortB.Path()));
  SignalCloser closer(Form.get());
  ASSERT_TRUE(closer.Active());
  std::raise(SIGTERM);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Form->isVisible(); }, 5000));
  // The close saved the settings, as a click on the close button does.
  QSettings settings(Xdg.SettingsFile(), QSettings::IniFormat);
  EXPECT_EQ(settings.value("COMM Port4").toString().toStdString(), PortB.Path());
}

TEST_F(StartupFixture, HangUpClosesTheWindowToo) {
  Form->show();
  SignalCloser closer(Form.get());
  ASSERT_TRUE(closer.Active());
  std::raise(SIGHUP);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !Form->isVisible(); }, 5000));
}

} // namespace
} // namespace kestrune
