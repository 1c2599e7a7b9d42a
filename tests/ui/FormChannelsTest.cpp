// Channels started and stopped from the window, over pseudo-terminals that
// no handset answers: the workers wait for a boot ROM until they are asked
// to stop. Also the close of the window while eight channels run.
#include "engine/ChannelRow.h"
#include "engine/CommsThread.h"
#include "platform/SerialPort.h"
#include "tests/ui/UiTestSupport.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>

namespace kestrune {
namespace {

using namespace uitest;

const char *const CannotOpenPort = "ERROR 해당 COMM port 를 열 수 없습니다. (2)";

struct ChannelsFixture : ::testing::Test {
  TempXdg Xdg;
  std::vector<std::unique_ptr<TestPty>> Ptys = MakePtys();
  std::unique_ptr<LineDrainer> Drainer = MakeDrainer();
  ScopedEnv Ports{"KESTRUNE_PORTS", PortList()};
  std::unique_ptr<TKestruneUiForm> Form = ReadyForm();

  static std::vector<std::unique_ptr<TestPty>> MakePtys() {
    std::vector<std::unique_ptr<TestPty>> ptys;
    for (int i = 0; i < ChannelCount; ++i)
      ptys.push_back(std::make_unique<TestPty>());
    return ptys;
  }
  std::unique_ptr<LineDrainer> MakeDrainer() {
    std::vector<int> masters;
    for (auto &pty : Ptys)
      masters.push_back(pty->Master());
    return std::make_unique<LineDrainer>(masters);
  }
  std::string PortList() {
    std::string list;
    for (auto &pty : Ptys)
      list += pty->Path() + ":";
    return list;
  }
  std::unique_ptr<TKestruneUiForm> ReadyForm() {
    auto form = MakeForm(ImmediateLoader(0, "MOT ready", "/nonexistent/image.bin"));
    form->StartMotLoad("/nonexistent/image.bin");
    EXPECT_TRUE(WaitForLoad(*form));
    EXPECT_EQ(form->ImageReadyValue(), 1);
    // Each channel on a port of its own.
    for (int channel = 0; channel < ChannelCount; ++channel)
      Combo(*form, channel)->setCurrentIndex(channel);
    return form;
  }
  void TearDown() override {
    Form.reset();
    EXPECT_EQ(TCommsThread::LiveWorkers(), 0);
  }

  static QComboBox *Combo(TKestruneUiForm &form, int channel) {
    return Control<QComboBox>(&form, ChannelControlName(channel, "PortCBox"));
  }
  QPushButton *Button(const char *kind, int channel) {
    return Control<QPushButton>(Form.get(), ChannelControlName(channel, kind));
  }
  QColor StatusColour(int channel) {
    return Control<QStatusBar>(Form.get(), ChannelControlName(channel, "StatusBar"))
        ->palette()
        .color(QPalette::Window);
  }
  // Running, past its first status text: the port is open and the worker
  // is calling the boot ROM.
  bool Calling(int channel) {
    return Form->Worker(channel) != nullptr && StatusText(Form.get(), channel) != "Syncing with target";
  }
  bool WaitIdle(int channel) {
    return QTest::qWaitFor([&] { return Form->Worker(channel) == nullptr; }, 5000);
  }
  bool PortFree(int channel) {
    auto port = CreateSerialPort();
    return port->Open(Combo(*Form, channel)->currentText().toStdString());
  }
};

TEST_F(ChannelsFixture, StartRunsOneChannelAndStopWindsItDown) {
  QTest::mouseClick(Button("StartButton", 2), Qt::LeftButton);
  EXPECT_NE(Form->Worker(2), nullptr);
  EXPECT_EQ(StatusText(Form.get(), 2), "Syncing with target");
  EXPECT_FALSE(Button("StartButton", 2)->isEnabled());
  EXPECT_TRUE(Button("StopButton", 2)->isEnabled());
  EXPECT_FALSE(Combo(*Form, 2)->isEnabled());
  EXPECT_FALSE(Control<QTabWidget>(Form.get(), "TypePageControl")->isEnabled());
  for (int channel : {0, 1, 3, 7})
    EXPECT_EQ(Form->Worker(channel), nullptr);

  ASSERT_TRUE(QTest::qWaitFor([&] { return Calling(2); }, 5000));
  EXPECT_EQ(StatusColour(2), BusyStatusColour());
  EXPECT_FALSE(PortFree(2));

  QTest::mouseClick(Button("StopButton", 2), Qt::LeftButton);
  ASSERT_TRUE(WaitIdle(2));
  EXPECT_EQ(StatusText(Form.get(), 2).toStdString(), ChannelRows[2].StopText);
  EXPECT_EQ(StatusColour(2), DoneStatusColour());
  EXPECT_TRUE(Button("StartButton", 2)->isEnabled());
  EXPECT_FALSE(Button("StopButton", 2)->isEnabled());
  EXPECT_TRUE(Combo(*Form, 2)->isEnabled());
  EXPECT_EQ(Control<QProgressBar>(Form.get(), "ProgressBar2")->value(), 1);
  EXPECT_TRUE(Control<QTabWidget>(Form.get(), "TypePageControl")->isEnabled());
  EXPECT_TRUE(PortFree(2));
}

TEST_F(ChannelsFixture, StartAllLeavesRunningChannelsAloneAndStartsAnEmptyOne) {
  QTest::mouseClick(Button("StartButton", 1), Qt::LeftButton);
  QTest::mouseClick(Button("StartButton", 4), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Calling(1) && Calling(4); }, 5000));
  TCommsThread *second = Form->Worker(1);
  TCommsThread *fifth = Form->Worker(4);
  QString secondText = StatusText(Form.get(), 1);

  // Channel 7 has no port: its Start stays disabled, Start All starts it.
  Combo(*Form, 6)->setCurrentIndex(-1);
  EXPECT_FALSE(Button("StartButton", 6)->isEnabled());
  QTest::mouseClick(Control<QPushButton>(Form.get(), "StartAllButton"), Qt::LeftButton);
  EXPECT_EQ(Form->Worker(1), second);
  EXPECT_EQ(Form->Worker(4), fifth);
  EXPECT_EQ(StatusText(Form.get(), 1), secondText);
  for (int channel : {0, 2, 3, 5, 7})
    EXPECT_EQ(StatusText(Form.get(), channel), "Syncing with target") << channel;
  ASSERT_TRUE(WaitIdle(6));
  EXPECT_EQ(StatusText(Form.get(), 6), CannotOpenPort);
  EXPECT_EQ(StatusColour(6), DoneStatusColour());
  EXPECT_FALSE(Button("StartButton", 6)->isEnabled()); // still no port
  for (int channel : {0, 1, 2, 3, 4, 5, 7})
    EXPECT_NE(Form->Worker(channel), nullptr) << channel;

  // Channel 7's run has ended: Stop All leaves its text beside its mark.
  QTest::mouseClick(Control<QPushButton>(Form.get(), "StopAllButton"), Qt::LeftButton);
  EXPECT_EQ(StatusText(Form.get(), 6), CannotOpenPort);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Form->AllChannelsIdle(); }, 5000));
  for (int channel : {0, 1, 2, 3, 4, 5, 7})
    EXPECT_EQ(StatusText(Form.get(), channel).toStdString(), ChannelRows[channel].StopText);
}

TEST_F(ChannelsFixture, FileControlsComeBackOnlyWhenTheLastWorkerHasEnded) {
  auto *tab = Control<QTabWidget>(Form.get(), "TypePageControl");
  auto *file = Control<QToolButton>(Form.get(), "FlashFileButton");
  QTest::mouseClick(Button("StartButton", 0), Qt::LeftButton);
  QTest::mouseClick(Button("StartButton", 5), Qt::LeftButton);
  EXPECT_FALSE(tab->isEnabled());
  EXPECT_FALSE(file->isEnabled());
  ASSERT_TRUE(QTest::qWaitFor([&] { return Calling(0) && Calling(5); }, 5000));
  Form->StopClick(0);
  ASSERT_TRUE(WaitIdle(0));
  EXPECT_FALSE(tab->isEnabled());
  EXPECT_FALSE(file->isEnabled());
  Form->StopClick(5);
  ASSERT_TRUE(WaitIdle(5));
  EXPECT_TRUE(tab->isEnabled());
  EXPECT_TRUE(file->isEnabled());
}

TEST_F(ChannelsFixture, ClosingWhileEightChannelsRunStopsThemAndClosesEveryPort) {
  QTest::mouseClick(Control<QPushButton>(Form.get(), "StartAllButton"), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] {
    for (int channel = 0; channel < ChannelCount; ++channel)
      if (!Calling(channel))
        return false;
    return true;
  }, 5000));
  EXPECT_EQ(TCommsThread::LiveWorkers(), ChannelCount);
  EXPECT_TRUE(Form->close());
  EXPECT_EQ(TCommsThread::LiveWorkers(), 0);
  for (int channel = 0; channel < ChannelCount; ++channel) {
    EXPECT_EQ(Form->Worker(channel), nullptr);
    EXPECT_EQ(StatusText(Form.get(), channel).toStdString(), ChannelRows[channel].StopText);
    EXPECT_TRUE(PortFree(channel)) << channel;
  }
}

TEST_F(ChannelsFixture, DestroyingTheWindowWhileChannelsRunWaitsForThem) {
  QTest::mouseClick(Control<QPushButton>(Form.get(), "StartAllButton"), Qt::LeftButton);
  std::vector<std::string> ports;
  for (int channel = 0; channel < ChannelCount; ++channel)
    ports.push_back(Combo(*Form, channel)->currentText().toStdString());
  Form.reset();
  EXPECT_EQ(TCommsThread::LiveWorkers(), 0);
  for (const std::string &port : ports)
    EXPECT_TRUE(CreateSerialPort()->Open(port)) << port;
}

} // namespace
} // namespace kestrune
