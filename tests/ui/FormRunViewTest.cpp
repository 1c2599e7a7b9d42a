// The operator's view of runs in the window, against virtual handsets with
// faults: every way a run ends lands in one outcome mark, the counts and
// the yield follow and survive a restart, Stop All leaves them alone, the
// whole run's bar ends full, and the log keeps every status text.
#include "engine/ChannelRow.h"
#include "engine/CommsThread.h"
#include "handset/VirtualHandset.h"
#include "image/MotLoaderThread.h"
#include "ui/ChannelLogDialog.h"
#include "tests/ui/UiTestSupport.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QSettings>

namespace kestrune {
namespace {

using namespace uitest;
using handset::HandsetOptions;
using handset::VirtualHandset;

const char *const DownloadDone = "다운로드 완료 !!!!!!!!!!!!!!!!!";

struct RunViewFixture : ::testing::Test {
  TempXdg Xdg;
  std::vector<std::unique_ptr<VirtualHandset>> Handsets;
  std::unique_ptr<ScopedEnv> Ports;
  QString ImageFile;
  std::unique_ptr<TKestruneUiForm> Form;

  // One handset per channel, each with its own options; a raw image of four
  // blocks, so that the handsets send their erase reports.
  void Open(const std::vector<HandsetOptions> &options) {
    std::string list;
    for (const HandsetOptions &o : options) {
      Handsets.push_back(std::make_unique<VirtualHandset>(o));
      ASSERT_TRUE(Handsets.back()->StartOnPty()) << Handsets.back()->ErrorText();
      list += Handsets.back()->DevicePath() + ":";
    }
    Ports = std::make_unique<ScopedEnv>("KESTRUNE_PORTS", list);
    QByteArray image(3 * 32768 + 1000, '\0');
    for (int i = 0; i < image.size(); ++i)
      image[i] = char(i * 13 + i / 509);
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
    ASSERT_EQ(Form->ImageReadyValue(), 1) << StatusText(Form.get(), 0).toStdString();
    for (size_t channel = 0; channel < Handsets.size(); ++channel)
      Control<QComboBox>(Form.get(), ChannelControlName(int(channel), "PortCBox"))
          ->setCurrentText(QString::fromStdString(Handsets[channel]->DevicePath()));
  }
  void TearDown() override {
    Form.reset();
    EXPECT_EQ(TCommsThread::LiveWorkers(), 0);
  }
  QString Badge(int channel) {
    return Control<QLabel>(Form.get(), ChannelControlName(channel, "OutcomeLabel"))->text();
  }
  QString Counts(int channel) {
    return Control<QLabel>(Form.get(), ChannelControlName(channel, "CountLabel"))->text();
  }
  QProgressBar *RunBar(int channel) {
    return Control<QProgressBar>(Form.get(), ChannelControlName(channel, "RunProgressBar"));
  }
  bool Logged(int channel, const std::string &text) {
    for (const std::string &line : Form->Log(channel).LinesAfter(0))
      if (line.size() >= text.size() && line.compare(line.size() - text.size(), text.size(), text) == 0)
        return true;
    return false;
  }
};

HandsetOptions Good() { return {}; }

TEST_F(RunViewFixture, EveryEndOfAStartAllLandsInOneOutcomeAndIsCounted) {
  std::vector<HandsetOptions> options(ChannelCount, Good());
  options[1].EraseFailSegment = 7;       // channel 2: the erase of segment 7 fails
  options[2].UnsupportedFlash = true;    // channel 3: the RAM program refuses the flash
  options[4].ProgramError = true;        // channel 5: the verdict is a NAK with its record
  options[5].PowerOnDelayMs = 600000;    // channel 6: never switched on, stopped
  options[7].NakBlock = 2;               // channel 8: a block is re-sent, then passes
  Open(options);
  for (int channel = 0; channel < ChannelCount; ++channel)
    EXPECT_EQ(Badge(channel), "-");

  QTest::mouseClick(Control<QPushButton>(Form.get(), "StartAllButton"), Qt::LeftButton);
  EXPECT_EQ(Badge(0), "RUNNING");
  ASSERT_TRUE(QTest::qWaitFor([&] {
    for (int channel = 0; channel < ChannelCount; ++channel)
      if (channel != 5 && Form->Worker(channel) != nullptr)
        return false;
    return true;
  }, 60000));
  EXPECT_EQ(Badge(5), "RUNNING");
  QTest::mouseClick(Control<QPushButton>(Form.get(), ChannelControlName(5, "StopButton")),
                    Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Form->AllChannelsIdle(); }, 10000));

  const std::vector<std::pair<int, RunOutcome>> expected{
      {0, RunOutcome::Passed}, {1, RunOutcome::Failed}, {2, RunOutcome::Failed},
      {3, RunOutcome::Passed}, {4, RunOutcome::Failed}, {5, RunOutcome::Stopped},
      {6, RunOutcome::Passed}, {7, RunOutcome::Passed}};
  for (auto [channel, outcome] : expected) {
    SCOPED_TRACE(channel + 1);
    ASSERT_TRUE(Form->LastOutcome(channel).has_value());
    EXPECT_EQ(*Form->LastOutcome(channel), outcome);
    EXPECT_EQ(Badge(channel), QString(RunOutcomeName(outcome)).toUpper());
    EXPECT_EQ(Form->Tally(channel).Passed, outcome == RunOutcome::Passed ? 1u : 0u);
    EXPECT_EQ(Form->Tally(channel).Failed, outcome == RunOutcome::Failed ? 1u : 0u);
  }
  EXPECT_EQ(Counts(1).toStdString(), "0 passed · 1 failed · 0.0%");
  EXPECT_EQ(Counts(5).toStdString(), "0 passed · 0 failed · –"); // a stop is not counted
  EXPECT_EQ(Form->StationTallyValue(), (RunTally{4, 3}));
  EXPECT_EQ(Control<QLabel>(Form.get(), "StationCountLabel")->text().toStdString(),
            "Station: 4 passed · 3 failed · 57.1%");

  // The failed segment stays readable in the log, under the error that
  // replaced it on the status line.
  EXPECT_TRUE(Logged(1, " Flash Eraseing Sector 7/131 Fail !!"));
  EXPECT_TRUE(Logged(1, "ERROR Flash Erase Fail !! (0)"));
  EXPECT_EQ(StatusText(Form.get(), 1), "ERROR Flash Erase Fail !! (0)");
  EXPECT_TRUE(Logged(2, "ERROR Device not supported by RAM program (1200)"));
  EXPECT_TRUE(Logged(0, DownloadDone));
  EXPECT_TRUE(Logged(0, "Syncing with target"));

  // The whole run's bar: full for a passed run, never full for the others.
  EXPECT_EQ(RunBar(0)->value(), RunBar(0)->maximum());
  EXPECT_TRUE(RunBar(0)->format().startsWith("passed  100%")) << RunBar(0)->format().toStdString();
  EXPECT_LT(RunBar(1)->value(), RunBar(1)->maximum());
  EXPECT_TRUE(RunBar(1)->format().startsWith("failed")) << RunBar(1)->format().toStdString();
  EXPECT_TRUE(RunBar(5)->format().startsWith("stopped")) << RunBar(5)->format().toStdString();

  // Stop All leaves channels whose runs have ended as they are: mark and
  // text agree.
  QTest::mouseClick(Control<QPushButton>(Form.get(), "StopAllButton"), Qt::LeftButton);
  EXPECT_EQ(StatusText(Form.get(), 1), "ERROR Flash Erase Fail !! (0)");
  EXPECT_EQ(StatusText(Form.get(), 0), DownloadDone);
  Form->StopClick(1);
  EXPECT_EQ(StatusText(Form.get(), 1), "ERROR Flash Erase Fail !! (0)");
  EXPECT_EQ(Badge(1), "FAILED");
  // One channel runs again: Stop All stops it alone.
  QTest::mouseClick(Control<QPushButton>(Form.get(), ChannelControlName(5, "StartButton")),
                    Qt::LeftButton);
  ASSERT_EQ(Badge(5), "RUNNING");
  QTest::mouseClick(Control<QPushButton>(Form.get(), "StopAllButton"), Qt::LeftButton);
  EXPECT_EQ(StatusText(Form.get(), 5), "Shutting down COMM");
  EXPECT_EQ(StatusText(Form.get(), 1), "ERROR Flash Erase Fail !! (0)");
  EXPECT_EQ(StatusText(Form.get(), 0), DownloadDone);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Form->AllChannelsIdle(); }, 10000));
  EXPECT_EQ(Badge(5), "STOPPED");
  EXPECT_EQ(Badge(1), "FAILED");
  EXPECT_EQ(Badge(0), "PASSED");
  EXPECT_EQ(Form->StationTallyValue(), (RunTally{4, 3}));

  // The counts are kept with the settings as they change, and read back
  // at the next start.
  QSettings stored(Xdg.SettingsFile(), QSettings::IniFormat);
  EXPECT_EQ(stored.value("Passed Runs").toInt(), 1);
  EXPECT_EQ(stored.value("Failed Runs1").toInt(), 1);
  EXPECT_EQ(stored.value("Failed Runs4").toInt(), 1);
  Reopen();
  EXPECT_EQ(Form->StationTallyValue(), (RunTally{4, 3}));
  EXPECT_EQ(Form->Tally(2), (RunTally{0, 1}));
  EXPECT_EQ(Counts(2).toStdString(), "0 passed · 1 failed · 0.0%");
  EXPECT_EQ(Badge(2), "-"); // outcomes belong to the session, counts to the station

  Form->ResetCounts();
  EXPECT_EQ(Form->StationTallyValue(), RunTally{});
  Reopen();
  EXPECT_EQ(Form->StationTallyValue(), RunTally{});
}

TEST_F(RunViewFixture, ARunStartedAgainClearsItsOutcomeUntilItEnds) {
  Open({Good()});
  QPushButton *start = Control<QPushButton>(Form.get(), "StartButton");
  QTest::mouseClick(start, Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Form->AllChannelsIdle(); }, 30000));
  EXPECT_EQ(Badge(0), "PASSED");
  ASSERT_TRUE(Handsets[0]->WaitForRuns(1, std::chrono::seconds(5)));
  QTest::mouseClick(start, Qt::LeftButton);
  EXPECT_FALSE(Form->LastOutcome(0).has_value());
  EXPECT_EQ(Badge(0), "RUNNING");
  // The bar starts from nothing again.
  Form->RefreshRunView();
  EXPECT_LT(RunBar(0)->value(), RunBar(0)->maximum());
  ASSERT_TRUE(QTest::qWaitFor([&] { return Form->AllChannelsIdle(); }, 30000));
  EXPECT_EQ(Badge(0), "PASSED");
  EXPECT_EQ(Form->Tally(0), (RunTally{2, 0}));
}

TEST_F(RunViewFixture, TheLogViewShowsAndSavesAChannelsTimedLines) {
  Open({Good()});
  QTest::mouseClick(Control<QPushButton>(Form.get(), "StartButton"), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Form->AllChannelsIdle(); }, 30000));

  ChannelLogDialog *dialog = Form->ShowLog(0);
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(dialog->isVisible());
  auto *view = Control<QPlainTextEdit>(dialog, "LogTextView");
  QString shown = view->toPlainText();
  EXPECT_TRUE(shown.contains(QString::fromUtf8(DownloadDone)));
  EXPECT_TRUE(shown.contains("Sending block 4 of 4"));

  QString path = Xdg.Root() + "/channel1.log";
  ASSERT_EQ(dialog->SaveTo(path), QString());
  QFile saved(path);
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  const QStringList lines = QString::fromUtf8(saved.readAll()).split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(size_t(lines.size()), Form->Log(0).Size());
  static const QRegularExpression stamp(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}  )");
  for (const QString &line : lines)
    EXPECT_TRUE(stamp.match(line).hasMatch()) << line.toStdString();
  EXPECT_TRUE(lines.filter(QString::fromUtf8("전원 On/Reset Mobile")).size() == 1);

  // A file that cannot be made is reported, not ignored.
  QString error = dialog->SaveTo(Xdg.Root() + "/no/such/dir/channel1.log");
  EXPECT_TRUE(error.startsWith("Could not")) << error.toStdString();

  // Another channel's log: its own lines only.
  dialog->ShowChannel(3);
  EXPECT_EQ(dialog->Channel(), 3);
  EXPECT_FALSE(view->toPlainText().contains("Sending block"));
  EXPECT_TRUE(view->toPlainText().contains(QString::fromStdString(ChannelRows[3].IdleText)));
}

TEST_F(RunViewFixture, LogFromAChannelsContextMenuOpensThatChannelsLog) {
  Open({Good()});
  QTest::mouseClick(Control<QPushButton>(Form.get(), "StartButton"), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Form->AllChannelsIdle(); }, 30000));
  for (int channel : {4, 0, 7, 1}) {
    auto *panel = Control<QWidget>(Form.get(), QString("ChannelPanel%1").arg(channel + 1));
    EXPECT_EQ(panel->contextMenuPolicy(), Qt::ActionsContextMenu);
    QAction *log = nullptr;
    bool records = false;
    for (QAction *action : panel->actions()) {
      if (action->objectName() == ChannelControlName(channel, "LogAction"))
        log = action;
      records = records || action->objectName() == "RecordsAction";
    }
    ASSERT_NE(log, nullptr) << channel;
    EXPECT_EQ(log->text(), "Log");
    EXPECT_TRUE(records) << "the window's own entry stays in the channel's menu";
    log->trigger();
    auto *dialog = Form->findChild<ChannelLogDialog *>("ChannelLogDialog");
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->Channel(), channel);
    const QString shown = Control<QPlainTextEdit>(dialog, "LogTextView")->toPlainText();
    EXPECT_EQ(shown.contains("Sending block 4 of 4"), channel == 0) << channel;
    EXPECT_TRUE(shown.contains(QString::fromStdString(ChannelRows[size_t(channel)].IdleText)))
        << channel;
  }
  // The Log button opens the channel last looked at.
  Form->findChild<ChannelLogDialog *>("ChannelLogDialog")->hide();
  QTest::mouseClick(Control<QPushButton>(Form.get(), "LogButton"), Qt::LeftButton);
  EXPECT_EQ(Form->findChild<ChannelLogDialog *>("ChannelLogDialog")->Channel(), 1);
}

TEST_F(RunViewFixture, APortThatCannotBeOpenedIsShownButNotCounted) {
  Open({Good()});
  // A file that is no serial port: listed, but it cannot be opened as one.
  const QString notAPort = Xdg.Root() + "/not-a-port";
  QFile file(notAPort);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  Ports.reset(); // gives back the variable as it was before it is set again
  Ports = std::make_unique<ScopedEnv>("KESTRUNE_PORTS",
                                      Handsets[0]->DevicePath() + ":" + notAPort.toStdString());
  Reopen();
  auto *other = Control<QComboBox>(Form.get(), ChannelControlName(1, "PortCBox"));
  other->setCurrentText(notAPort);
  QStringList items;
  for (int i = 0; i < other->count(); ++i)
    items << other->itemText(i);
  ASSERT_EQ(other->currentText(), notAPort) << items.join(",").toStdString();
  for (int channel : {0, 1})
    QTest::mouseClick(Control<QPushButton>(Form.get(), ChannelControlName(channel, "StartButton")),
                      Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Form->AllChannelsIdle(); }, 60000));
  EXPECT_EQ(Badge(0), "PASSED");
  EXPECT_EQ(Badge(1), "FAILED");
  EXPECT_EQ(Form->Tally(1), RunTally{});
  EXPECT_EQ(Counts(1).toStdString(), "0 passed · 0 failed · –");
  EXPECT_EQ(Form->StationTallyValue(), (RunTally{1, 0}));
  EXPECT_EQ(Control<QLabel>(Form.get(), "StationCountLabel")->text().toStdString(),
            "Station: 1 passed · 0 failed · 100.0%");
  bool told = false;
  for (const std::string &line : Form->Log(1).LinesAfter(0))
    told = told || line.find("Run failed (no handset answered: not counted)") != std::string::npos;
  EXPECT_TRUE(told);
}

} // namespace
} // namespace kestrune
