// The window keeps a record of every run in the station's database, and a
// database it cannot open is told once without stopping the channels.
#include "handset/VirtualHandset.h"
#include "image/MotLoaderThread.h"
#include "records/SqliteStore.h"
#include "tests/ui/UiTestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QMessageBox>
#include <QPushButton>

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
