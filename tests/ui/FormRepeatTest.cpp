// The window's repeat mode: the check box beside the speed choice is kept
// in the settings, a channel flashes handset after handset and counts each,
// and Stop ends it while it waits for the next one.
#include "engine/ChannelRow.h"
#include "engine/CommsThread.h"
#include "handset/VirtualHandset.h"
#include "image/MotLoaderThread.h"
#include "tests/ui/UiTestSupport.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSettings>

namespace kestrune {
namespace {

using namespace uitest;
using handset::HandsetOptions;
using handset::VirtualHandset;

struct RepeatFixture : ::testing::Test {
  TempXdg Xdg;
  std::unique_ptr<VirtualHandset> Handset;
  std::unique_ptr<ScopedEnv> Ports;
  QString ImageFile;
  std::unique_ptr<TKestruneUiForm> Form;

  void Open(HandsetOptions options) {
    Handset = std::make_unique<VirtualHandset>(options);
    ASSERT_TRUE(Handset->StartOnPty()) << Handset->ErrorText();
    Ports = std::make_unique<ScopedEnv>("KESTRUNE_PORTS", Handset->DevicePath());
    QByteArray image(2 * 32768 + 100, '\0');
    for (int i = 0; i < image.size(); ++i)
      image[i] = char(i * 11);
    ImageFile = Xdg.Root() + "/image.bin";
    QFile out(ImageFile);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(image);
    out.close();
    Reopen();
  }
  void Reopen() {
    Form.reset();
    Form = MakeForm([] { return MotLoaderThread(); }, {"kestrune"});
    Form->StartMotLoad(ImageFile);
    ASSERT_TRUE(WaitForLoad(*Form));
    Control<QComboBox>(Form.get(), ChannelControlName(0, "PortCBox"))
        ->setCurrentText(QString::fromStdString(Handset->DevicePath()));
  }
  void TearDown() override {
    Form.reset();
    EXPECT_EQ(TCommsThread::LiveWorkers(), 0);
  }
  QCheckBox *RepeatBox() { return Control<QCheckBox>(Form.get(), "RepeatCheckBox"); }
  QString Badge() {
    return Control<QLabel>(Form.get(), ChannelControlName(0, "OutcomeLabel"))->text();
  }
  QVariant Stored(const char *name) {
    QSettings settings(Xdg.SettingsFile(), QSettings::IniFormat);
    return settings.value(name);
  }
};

TEST_F(RepeatFixture, TheCheckBoxSitsBesideTheSpeedsAndIsRemembered) {
  Open({});
  QCheckBox *box = RepeatBox();
  EXPECT_FALSE(box->isChecked());
  EXPECT_EQ(box->text(), "Repeat");
  EXPECT_EQ(box->parentWidget(), Control<QWidget>(Form.get(), "RadioGroup1")->parentWidget());
  box->setChecked(true);
  EXPECT_EQ(Stored(RepeatValue).toInt(), 1);
  Reopen();
  EXPECT_TRUE(RepeatBox()->isChecked());
  EXPECT_EQ(Form->RepeatChoice().SwapSilence, DefaultSwapSilence);
  RepeatBox()->setChecked(false);
  Reopen();
  EXPECT_FALSE(RepeatBox()->isChecked());
  EXPECT_FALSE(Form->RepeatChoice().On);
}

TEST_F(RepeatFixture, HandsetAfterHandsetIsCountedUntilStop) {
  Open({.Model = handset::RamModel::Host, .SwapAfterRunMs = 1300});
  RepeatBox()->setChecked(true);
  QTest::mouseClick(Control<QPushButton>(Form.get(), "StartButton"), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Form->Tally(0).Passed == 2; }, 60000));
  // The channel goes on: it waits for the third unit.
  EXPECT_NE(Form->Worker(0), nullptr);
  EXPECT_EQ(Badge(), "RUNNING");
  EXPECT_FALSE(Control<QPushButton>(Form.get(), "StartButton")->isEnabled());
  auto waits = [&] {
    int count = 0;
    for (const std::string &line : Form->Log(0).LinesAfter(0))
      count += line.find(RemoveHandsetText) != std::string::npos;
    return count;
  };
  ASSERT_TRUE(QTest::qWaitFor([&] { return waits() == 2; }, 5000));
  QTest::mouseClick(Control<QPushButton>(Form.get(), "StopButton"), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Form->AllChannelsIdle(); }, 2000));
  EXPECT_EQ(Form->Tally(0), (RunTally{.Passed = 2, .Failed = 0}));
  EXPECT_EQ(Badge(), "STOPPED");
  EXPECT_EQ(Handset->CompletedRuns(), 2);
  EXPECT_TRUE(Control<QPushButton>(Form.get(), "StartButton")->isEnabled());
}

} // namespace
} // namespace kestrune
