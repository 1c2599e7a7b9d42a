// Whole downloads started from the window into virtual handsets: one
// channel, all eight at once, the speed choice, and a close in the middle
// of eight downloads.
#include "engine/ChannelRow.h"
#include "engine/CommsThread.h"
#include "handset/VirtualHandset.h"
#include "image/MotLoaderThread.h"
#include "platform/SerialPort.h"
#include "tests/support/FreezingHandset.h"
#include "tests/ui/UiTestSupport.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>

namespace kestrune {
namespace {

using namespace uitest;
using handset::VirtualHandset;

const char *const DownloadDone = "다운로드 완료 !!!!!!!!!!!!!!!!!";

struct DownloadFixture : ::testing::Test {
  TempXdg Xdg;
  std::vector<std::unique_ptr<VirtualHandset>> Handsets;
  std::unique_ptr<ScopedEnv> Ports;
  std::vector<uint8_t> Image;
  std::unique_ptr<TKestruneUiForm> Form;

  // count handsets, each channel on its own; an image of `blocks` 32 KiB
  // blocks (the last one short) as a raw .bin.
  void Open(int count, int blocks, handset::HandsetOptions options = {},
            const std::string &otherPort = {}) {
    std::string list = otherPort.empty() ? std::string() : otherPort + ":";
    for (int i = 0; i < count; ++i) {
      Handsets.push_back(std::make_unique<VirtualHandset>(options));
      ASSERT_TRUE(Handsets.back()->StartOnPty()) << Handsets.back()->ErrorText();
      list += Handsets.back()->DevicePath() + ":";
    }
    Ports = std::make_unique<ScopedEnv>("KESTRUNE_PORTS", list);
    Image.resize(size_t(blocks - 1) * 32768 + 1000);
    for (size_t i = 0; i < Image.size(); ++i)
      Image[i] = uint8_t(i * 7 + i / 251);
    QString file = Xdg.Root() + "/image.bin";
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(reinterpret_cast<const char *>(Image.data()), qint64(Image.size()));
    out.close();
    Form = MakeForm([] { return MotLoaderThread(); }, {"kestrune"});
    Form->StartMotLoad(file);
    ASSERT_TRUE(WaitForLoad(*Form));
    ASSERT_EQ(Form->ImageReadyValue(), 1) << StatusText(Form.get(), 0).toStdString();
    for (int channel = 0; channel < count; ++channel)
      Combo(channel)->setCurrentText(QString::fromStdString(Handsets[channel]->DevicePath()));
  }
  void TearDown() override {
    Form.reset();
    EXPECT_EQ(TCommsThread::LiveWorkers(), 0);
  }
  QComboBox *Combo(int channel) {
    return Control<QComboBox>(Form.get(), ChannelControlName(channel, "PortCBox"));
  }
  QColor StatusColour(int channel) {
    return Control<QStatusBar>(Form.get(), ChannelControlName(channel, "StatusBar"))
        ->palette()
        .color(QPalette::Window);
  }
  bool FlashHoldsImage(VirtualHandset &handset) {
    return handset.ReadFlash(0, uint32_t(Image.size())) == Image;
  }
};

TEST_F(DownloadFixture, StartProgramsOneHandset) {
  Open(1, 4);
  auto *bar = Control<QProgressBar>(Form.get(), "ProgressBar");
  int highest = 0;
  // The RAM program's chunks count first (23), then the image's blocks (4).
  QObject::connect(bar, &QProgressBar::valueChanged, [&](int value) {
    if (bar->maximum() == 4)
      highest = std::max(highest, value);
  });
  QTest::mouseClick(Control<QPushButton>(Form.get(), "StartButton"), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Form->AllChannelsIdle(); }, 30000));
  EXPECT_EQ(StatusText(Form.get(), 0), DownloadDone);
  EXPECT_EQ(StatusColour(0), DoneStatusColour());
  EXPECT_TRUE(FlashHoldsImage(*Handsets[0]));
  ASSERT_TRUE(Handsets[0]->WaitForRuns(1, std::chrono::seconds(5)));
  EXPECT_EQ(Handsets[0]->Runs().front().Outcome, handset::RunOutcome::Complete);
  EXPECT_EQ(Handsets[0]->Runs().front().LineRate, 921600u);
  // The bar followed the blocks and went back to its minimum at the end.
  EXPECT_EQ(highest, 4);
  EXPECT_EQ(bar->value(), 1);
  EXPECT_TRUE(Control<QPushButton>(Form.get(), "StartButton")->isEnabled());
  EXPECT_TRUE(Control<QTabWidget>(Form.get(), "TypePageControl")->isEnabled());
}

TEST_F(DownloadFixture, StartAllProgramsEightHandsetsAtTheChosenSpeed) {
  Open(ChannelCount, 3);
  QTest::mouseClick(Control<QRadioButton>(Form.get(), "Radio460Button"), Qt::LeftButton);
  QTest::mouseClick(Control<QPushButton>(Form.get(), "StartAllButton"), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Form->AllChannelsIdle(); }, 60000));
  for (int channel = 0; channel < ChannelCount; ++channel) {
    SCOPED_TRACE(channel + 1);
    EXPECT_EQ(StatusText(Form.get(), channel), DownloadDone);
    EXPECT_TRUE(FlashHoldsImage(*Handsets[channel]));
    ASSERT_TRUE(Handsets[channel]->WaitForRuns(1, std::chrono::seconds(5)));
    EXPECT_EQ(Handsets[channel]->Runs().front().LineRate, 460800u);
  }
}

TEST_F(DownloadFixture, ClosingInTheMiddleOfEightDownloadsStopsThemAll) {
  handset::HandsetOptions slow;
  slow.Timing.WordProgramUs = 20; // about 0.3 s a block: the close lands mid-run
  Open(ChannelCount, 8, slow);
  QTest::mouseClick(Control<QPushButton>(Form.get(), "StartAllButton"), Qt::LeftButton);
  auto bar = [&](int channel) {
    return Control<QProgressBar>(Form.get(), ChannelControlName(channel, "ProgressBar"));
  };
  bool allProgramming = QTest::qWaitFor([&] {
    for (int channel = 0; channel < ChannelCount; ++channel)
      if (bar(channel)->maximum() != 8)
        return false;
    return true;
  }, 60000);
  for (int channel = 0; channel < ChannelCount && !allProgramming; ++channel)
    ADD_FAILURE() << "channel " << channel + 1 << " shows \""
                  << StatusText(Form.get(), channel).toStdString() << "\", bar at "
                  << bar(channel)->value() << " of " << bar(channel)->maximum();
  ASSERT_TRUE(allProgramming);
  EXPECT_TRUE(Form->close());
  EXPECT_EQ(TCommsThread::LiveWorkers(), 0);
  for (int channel = 0; channel < ChannelCount; ++channel) {
    SCOPED_TRACE(channel + 1);
    EXPECT_EQ(Form->Worker(channel), nullptr);
    EXPECT_EQ(StatusText(Form.get(), channel).toStdString(), ChannelRows[channel].StopText);
    EXPECT_TRUE(CreateSerialPort()->Open(Handsets[channel]->DevicePath()));
  }
}

TEST_F(DownloadFixture, ClosingWhileAHandsetLeavesABlockUnreadEndsAtOnce) {
  test::FreezingHandset frozen; // reads nothing after the start header
  Open(0, 3, {}, frozen.DevicePath());
  Combo(0)->setCurrentText(QString::fromStdString(frozen.DevicePath()));
  QTest::mouseClick(Control<QPushButton>(Form.get(), ChannelControlName(0, "StartButton")),
                    Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return frozen.Frozen(); }, 30000));
  QTest::qWait(300); // block 1 fills the line; the worker's write waits
  const auto closing = std::chrono::steady_clock::now();
  EXPECT_TRUE(Form->close());
  // Not held by the line, which takes nothing more: the close's own work
  // (its records among them) took 1.4 s once on a loaded machine.
  EXPECT_LT(std::chrono::steady_clock::now() - closing, std::chrono::seconds(3));
  EXPECT_EQ(TCommsThread::LiveWorkers(), 0);
  EXPECT_EQ(StatusText(Form.get(), 0).toStdString(), ChannelRows[0].StopText);
}

} // namespace
} // namespace kestrune
