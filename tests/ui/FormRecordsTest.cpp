// The window keeps a record of every run in the station's database, and a
// database it cannot open is told once without stopping the channels.
#include "handset/VirtualHandset.h"
#include "image/MotLoaderThread.h"
#include "records/SqliteStore.h"
#include "ui/IniSettingsStore.h"
#include "ui/RecordsDialog.h"
#include "tests/ui/UiTestSupport.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace kestrune {
namespace {

using namespace uitest;
using handset::VirtualHandset;

struct RecordsFixture : ::testing::Test {
  TempXdg Xdg;
  VirtualHandset Handset;
  std::unique_ptr<ScopedEnv> Ports;
  std::unique_ptr<TKestruneUiForm> Form;

  std::string DatabasePath() const {
    return (Xdg.DataHome() + "/Orv/Kestrune/records.sqlite").toStdString();
  }
  void RunOnce() {
    ASSERT_TRUE(Handset.StartOnPty()) << Handset.ErrorText();
    Ports = std::make_unique<ScopedEnv>("KESTRUNE_PORTS", Handset.DevicePath());
    QString file = Xdg.Root() + "/image.bin";
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(QByteArray(40000, '\x5a'));
    out.close();
    Form = MakeForm([] { return MotLoaderThread(); }, {"kestrune"});
    Form->StartMotLoad(file);
    ASSERT_TRUE(WaitForLoad(*Form));
    QTest::mouseClick(Control<QPushButton>(Form.get(), "StartButton"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Form->AllChannelsIdle(); }, 30000));
    Form->close();
  }
};

TEST_F(RecordsFixture, EveryRunIsOnRecord) {
  RunOnce();
  std::string why;
  auto store = records::SqliteStore::Open(DatabasePath(), why);
  ASSERT_TRUE(store) << why;
  std::vector<records::Record> list;
  ASSERT_TRUE(store->List({}, list, why)) << why;
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].Outcome, "passed");
  EXPECT_EQ(list[0].Channel, 1);
  EXPECT_EQ(list[0].Port, Handset.DevicePath());
  EXPECT_EQ(list[0].ImageSize, 40000u);
  // The file box's choice, which for a .bin is also the file sent.
  const std::string chosen = (Xdg.Root() + "/image.bin").toStdString();
  EXPECT_EQ(list[0].ChosenFile, chosen);
  EXPECT_EQ(list[0].ImagePath, chosen);
}

// Another program holds channel 2's port: the channel shows the failure
// with its code, its run is kept with unit false, and neither the window's
// counts nor the records' summary take it in.
TEST_F(RecordsFixture, ABusyPortIsShownAndKeptButInNoCount) {
  VirtualHandset held;
  ASSERT_TRUE(Handset.StartOnPty() && held.StartOnPty());
  const int holder = open(held.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  Ports = std::make_unique<ScopedEnv>("KESTRUNE_PORTS",
                                      Handset.DevicePath() + ":" + held.DevicePath());
  QString file = Xdg.Root() + "/image.bin";
  QFile out(file);
  ASSERT_TRUE(out.open(QIODevice::WriteOnly));
  out.write(QByteArray(40000, '\x5a'));
  out.close();
  Form = MakeForm([] { return MotLoaderThread(); }, {"kestrune"});
  Form->StartMotLoad(file);
  ASSERT_TRUE(WaitForLoad(*Form));
  Control<QComboBox>(Form.get(), ChannelControlName(0, "PortCBox"))
      ->setCurrentText(QString::fromStdString(Handset.DevicePath()));
  Control<QComboBox>(Form.get(), ChannelControlName(1, "PortCBox"))
      ->setCurrentText(QString::fromStdString(held.DevicePath()));
  for (int channel : {0, 1})
    QTest::mouseClick(Control<QPushButton>(Form.get(), ChannelControlName(channel, "StartButton")),
                      Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Form->AllChannelsIdle(); }, 30000));
  close(holder);
  EXPECT_EQ(Control<QLabel>(Form.get(), ChannelControlName(1, "OutcomeLabel"))->text(), "FAILED");
  EXPECT_TRUE(StatusText(Form.get(), 1).contains("(16)")) << StatusText(Form.get(), 1).toStdString();
  EXPECT_EQ(Form->Tally(1), RunTally{});
  EXPECT_EQ(Form->StationTallyValue(), (RunTally{1, 0}));
  Form->close();

  std::string why;
  auto store = records::SqliteStore::Open(DatabasePath(), why);
  ASSERT_TRUE(store) << why;
  std::vector<records::Record> list;
  ASSERT_TRUE(store->List({}, list, why)) << why;
  ASSERT_EQ(list.size(), 2u);
  for (const records::Record &r : list) {
    const bool busy = r.Port == held.DevicePath();
    EXPECT_EQ(r.Unit, !busy) << r.Port;
    EXPECT_EQ(r.Outcome, busy ? "failed" : "passed") << r.Port;
  }
  IniSettingsStore settings{UserXdgDirectories()};
  RecordsDialog dialog(DatabasePath(), true, settings, nullptr);
  const QString summary = Control<QPlainTextEdit>(&dialog, "RecordsSummary")->toPlainText();
  EXPECT_TRUE(summary.contains(" channel 2: passed 0, failed 0, stopped 0, yield -, no unit 1"))
      << summary.toStdString();
}

TEST_F(RecordsFixture, UnusableDatabaseIsToldOnceAndTheRunGoesOn) {
  // A folder where the database file should be.
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(DatabasePath())));
  RunOnce();
  QTest::qWait(400); // the notice timer's period, and some
  auto notices = Form->findChildren<QMessageBox *>("RecordsNotice");
  ASSERT_EQ(notices.size(), 1);
  EXPECT_TRUE(notices[0]->text().startsWith("records are not being kept: "))
      << notices[0]->text().toStdString();
  EXPECT_FALSE(notices[0]->isModal());
  EXPECT_EQ(StatusText(Form.get(), 0), "다운로드 완료 !!!!!!!!!!!!!!!!!");
}

} // namespace
} // namespace kestrune
