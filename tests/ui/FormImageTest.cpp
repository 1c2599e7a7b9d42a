// Choosing and loading the image: the file dialog, the 10 ms poll, the texts
// of the status lines during and after a load, and what may start meanwhile.
#include "engine/ChannelRow.h"
#include "image/ImageState.h"
#include "tests/ui/UiTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <QToolButton>

namespace kestrune {
namespace {

using namespace uitest;

struct ImageFixture : ::testing::Test {
  TempXdg Xdg;
  TestPty PortA, PortB;
  ScopedEnv Ports{"KESTRUNE_PORTS", PortA.Path() + ":" + PortB.Path()};
  ControlledLoader Loader;

  void Remember(const QString &file) {
    QSettings settings(Xdg.SettingsFile(), QSettings::IniFormat);
    settings.setValue("Flash File", file);
  }
  QPushButton *Start(TKestruneUiForm &form, int channel) {
    return Control<QPushButton>(&form, ChannelControlName(channel, "StartButton"));
  }
  int EnabledStarts(TKestruneUiForm &form) {
    int enabled = 0;
    for (int channel = 0; channel < ChannelCount; ++channel)
      enabled += Start(form, channel)->isEnabled() ? 1 : 0;
    return enabled;
  }
};


TEST_F(ImageFixture, RememberedFileLoadsAtStartAndFollowsTheLoaderOnChannelsOneAndTwo) {
  Remember("/images/phone.mot");
  QGuiApplication::setApplicationDisplayName("Kestrune");
  auto form = MakeForm(Loader.Routine());
  // The idle texts replace "Checking MOT file" at once; the load runs.
  EXPECT_EQ(StatusText(form.get(), 0).toStdString(), ChannelRows[0].IdleText);
  EXPECT_TRUE(form->ImageLoadRunning());
  EXPECT_TRUE(Control<QTimer>(form.get(), "CommTimer")->isActive());
  EXPECT_EQ(Control<QTimer>(form.get(), "CommTimer")->interval(), 10);
  EXPECT_FALSE(Control<QToolButton>(form.get(), "FlashFileButton")->isEnabled());
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), "Kestrune");

  Loader.Show("Reading MOT file 40%");
  ASSERT_TRUE(QTest::qWaitFor([&] { return StatusText(form.get(), 1) == "Reading MOT file 40%"; }));
  EXPECT_EQ(StatusText(form.get(), 0), "Reading MOT file 40%");
  EXPECT_EQ(Loader.SeenFileName(), "/images/phone.mot");
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), " Flash Downloader ");
  for (int channel = 2; channel < ChannelCount; ++channel)
    EXPECT_EQ(StatusText(form.get(), channel).toStdString(), ChannelRows[channel].IdleText);

  Loader.Finish(0, "MOT file ready", "/images/phone.bif");
  ASSERT_TRUE(WaitForLoad(*form));
  for (int channel = 0; channel < ChannelCount; ++channel)
    EXPECT_EQ(StatusText(form.get(), channel), "MOT file ready");
  EXPECT_EQ(LoadStatusText.Get(), "");
  EXPECT_EQ(form->ImageReadyValue(), 1);
  EXPECT_EQ(EnabledStarts(*form), ChannelCount);
  EXPECT_TRUE(Control<QToolButton>(form.get(), "FlashFileButton")->isEnabled());
}

TEST_F(ImageFixture, NothingStartsAndNoSecondLoadBeginsWhileALoadRuns) {
  Remember("/images/first.mot");
  auto form = MakeForm(Loader.Routine());
  bool dialogShown = false;
  auto watch = OnNextModal([&](QWidget *modal) {
    dialogShown = true;
    static_cast<QDialog *>(modal)->reject();
  });
  QTest::mouseClick(Control<QLineEdit>(form.get(), "FlashFileEdit"), Qt::LeftButton);
  QTest::mouseClick(Control<QPushButton>(form.get(), "StartAllButton"), Qt::LeftButton);
  form->StartClick(2);
  EXPECT_FALSE(dialogShown);
  EXPECT_TRUE(form->AllChannelsIdle());
  EXPECT_EQ(EnabledStarts(*form), 0);
  Loader.Finish(0, "ready", "/images/first.bif");
  ASSERT_TRUE(WaitForLoad(*form));
  EXPECT_EQ(Loader.RunCount(), 1);
  EXPECT_EQ(EnabledStarts(*form), ChannelCount);
}

TEST_F(ImageFixture, CancellingTheDialogChangesNothing) {
  auto form = MakeForm(Loader.Routine());
  QString title;
  QStringList filters;
  auto watch = OnNextModal([&](QWidget *modal) {
    auto *dialog = qobject_cast<QFileDialog *>(modal);
    ASSERT_NE(dialog, nullptr);
    title = dialog->windowTitle();
    filters = dialog->nameFilters();
    EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
    dialog->reject();
  });
  QTest::mouseClick(Control<QToolButton>(form.get(), "FlashFileButton"), Qt::LeftButton);
  EXPECT_EQ(title, "Select MOT or BIN file");
  EXPECT_EQ(filters, (QStringList{"Flash Binary format (*.bif)", "Motorola format (*.mot)",
                                  "Raw Binary format (*.bin)"}));
  EXPECT_EQ(Control<QLineEdit>(form.get(), "FlashFileEdit")->text(), "");
  EXPECT_FALSE(Loader.Started());
  EXPECT_FALSE(Control<QTimer>(form.get(), "CommTimer")->isActive());
}

TEST_F(ImageFixture, ChosenFileIsShownAndLoaded) {
  QString file = Xdg.Root() + "/handset.MOT";
  QFile(file).open(QIODevice::WriteOnly);
  auto form = MakeForm(Loader.Routine());
  auto watch = OnNextModal([&](QWidget *modal) {
    auto *dialog = qobject_cast<QFileDialog *>(modal);
    ASSERT_NE(dialog, nullptr);
    dialog->selectFile(file);
    static_cast<QDialog *>(dialog)->accept();
  });
  QTest::mouseClick(Control<QLineEdit>(form.get(), "FlashFileEdit"), Qt::LeftButton);
  EXPECT_EQ(Control<QLineEdit>(form.get(), "FlashFileEdit")->text(), file);
  EXPECT_EQ(StatusText(form.get(), 0), "Checking MOT file");
  EXPECT_EQ(EnabledStarts(*form), 0);
  Loader.Finish(0, "ok", (file + ".bif").toStdString());
  ASSERT_TRUE(WaitForLoad(*form));
  EXPECT_EQ(Loader.SeenFileName(), file.toStdString());
}

TEST_F(ImageFixture, FailedLoadDisablesEveryStartAndLaterGoodLoadEnablesThoseWithAPort) {
  auto form = MakeForm(Loader.Routine());
  form->StartMotLoad("/images/broken.mot");
  Loader.Finish(1, "ERROR Could not open MOT file (2)");
  ASSERT_TRUE(WaitForLoad(*form));
  EXPECT_EQ(form->ImageReadyValue(), 0);
  EXPECT_EQ(EnabledStarts(*form), 0);
  for (int channel = 0; channel < ChannelCount; ++channel)
    EXPECT_EQ(StatusText(form.get(), channel), "ERROR Could not open MOT file (2)");
  form->StartClick(0);
  EXPECT_EQ(StatusText(form.get(), 0), " Select Flash Download File !!!");

  // Channel 3's list loses its choice: it has no port to start on.
  Control<QComboBox>(form.get(), "PortCBox2")->setCurrentIndex(-1);
  form->StartMotLoad("/images/good.mot");
  Loader.Finish(0, "ok", "/images/good.bif");
  ASSERT_TRUE(WaitForLoad(*form));
  EXPECT_EQ(form->ImageReadyValue(), 1);
  for (int channel = 0; channel < ChannelCount; ++channel)
    EXPECT_EQ(Start(*form, channel)->isEnabled(), channel != 2) << channel;
}

} // namespace
} // namespace kestrune
