// The window's run options under the file controls: the RAM program file,
// the watchdog and the re-send limit, remembered in the settings and used
// by the channels' runs against virtual handsets.
#include "engine/CommsThread.h"
#include "engine/RamProgramSource.h"
#include "engine/Watchdog.h"
#include "handset/VirtualHandset.h"
#include "image/MotLoaderThread.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/RunOptionsPanel.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>

namespace kestrune {
namespace {

using namespace uitest;
using handset::VirtualHandset;

const char *const DownloadDone = "다운로드 완료 !!!!!!!!!!!!!!!!!";

struct RunOptionsFixture : ::testing::Test {
  TempXdg Xdg;
  std::unique_ptr<VirtualHandset> Handset;
  std::unique_ptr<ScopedEnv> Ports;
  std::unique_ptr<TKestruneUiForm> Form;

  void Open(handset::HandsetOptions options = {}) {
    Handset = std::make_unique<VirtualHandset>(options);
    ASSERT_TRUE(Handset->StartOnPty()) << Handset->ErrorText();
    Ports = std::make_unique<ScopedEnv>("KESTRUNE_PORTS", Handset->DevicePath());
    std::vector<uint8_t> image(3 * 32768 + 100, 0xA5);
    QString file = Xdg.Root() + "/image.bin";
    WriteFile(file, image);
    Form = MakeForm([] { return MotLoaderThread(); }, {"kestrune"});
    Form->StartMotLoad(file);
    ASSERT_TRUE(WaitForLoad(*Form));
    ASSERT_EQ(Form->ImageReadyValue(), 1);
    Control<QComboBox>(Form.get(), "PortCBox")
        ->setCurrentText(QString::fromStdString(Handset->DevicePath()));
  }
  void TearDown() override {
    Form.reset();
    EXPECT_EQ(TCommsThread::LiveWorkers(), 0);
    UseRamProgram(nullptr);
    SetWatchdogSeconds(DefaultWatchdogSeconds);
    SetResendLimit(DefaultResendLimit);
  }
  static void WriteFile(const QString &path, const std::vector<uint8_t> &bytes) {
    QFile out(path);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(reinterpret_cast<const char *>(bytes.data()), qint64(bytes.size()));
  }
  QString OwnProgramFile(int extraBytes = 0) {
    std::vector<uint8_t> bytes(RamProgram.begin(), RamProgram.end());
    bytes.resize(size_t(int(bytes.size()) + extraBytes), 0xFF);
    QString path = Xdg.Root() + QString("/loader%1.bin").arg(extraBytes);
    WriteFile(path, bytes);
    return path;
  }
  RunOptionsPanel *Options() { return Control<RunOptionsPanel>(Form.get(), "RunOptionsPanel"); }
  QVariant Stored(const char *name) {
    QSettings settings(Xdg.SettingsFile(), QSettings::IniFormat);
    return settings.value(name);
  }
  void Store(const char *name, const QVariant &value) {
    QSettings settings(Xdg.SettingsFile(), QSettings::IniFormat);
    settings.setValue(name, value);
  }
  bool Start() {
    QTest::mouseClick(Control<QPushButton>(Form.get(), "StartButton"), Qt::LeftButton);
    return QTest::qWaitFor([&] { return Form->AllChannelsIdle(); }, 30000);
  }
};

TEST_F(RunOptionsFixture, OptionsAreRememberedBesideTheClassicSettings) {
  Open();
  auto *watchdog = Control<QSpinBox>(Form.get(), "WatchdogSpinBox");
  auto *resends = Control<QSpinBox>(Form.get(), "ResendLimitSpinBox");
  auto *ramProgram = Control<QLineEdit>(Form.get(), "RamProgramEdit");
  EXPECT_EQ(watchdog->value(), int(DefaultWatchdogSeconds));
  EXPECT_EQ(resends->value(), int(DefaultResendLimit));
  EXPECT_TRUE(ramProgram->text().isEmpty());
  watchdog->setValue(7);
  resends->setValue(0);
  EXPECT_EQ(StationRunLimits().AnswerMs, 7000u);
  EXPECT_EQ(StationRunLimits().EraseMs, EraseLimitFor(7000));
  EXPECT_EQ(StationRunLimits().Resends, 0u);
  const QString own = OwnProgramFile();
  ASSERT_TRUE(Options()->ChooseRamProgram(own));
  EXPECT_FALSE(BuiltInRamProgramChosen());
  Form->close();
  Form.reset();
  EXPECT_EQ(Stored(WatchdogSecondsValue).toInt(), 7);
  EXPECT_EQ(Stored(ResendLimitValue).toInt(), 0);
  EXPECT_EQ(Stored(RamProgramFileValue).toString(), own);
  // The classic values are there as before, beside the new ones.
  EXPECT_EQ(Stored("COMM Port").toString().toStdString(), Handset->DevicePath());

  SetWatchdogSeconds(DefaultWatchdogSeconds);
  SetResendLimit(DefaultResendLimit);
  UseRamProgram(nullptr);
  Form = MakeForm([] { return MotLoaderThread(); }, {"kestrune"});
  EXPECT_EQ(Control<QSpinBox>(Form.get(), "WatchdogSpinBox")->value(), 7);
  EXPECT_EQ(Control<QSpinBox>(Form.get(), "ResendLimitSpinBox")->value(), 0);
  EXPECT_EQ(Control<QLineEdit>(Form.get(), "RamProgramEdit")->text(), own);
  EXPECT_EQ(StationRunLimits().AnswerMs, 7000u);
  EXPECT_EQ(StationRunLimits().Resends, 0u);
  EXPECT_FALSE(BuiltInRamProgramChosen());
}

TEST_F(RunOptionsFixture, AFileOfAnyOtherLengthIsRefusedAndTheChoiceStays) {
  Open();
  auto *problem = Control<QLabel>(Form.get(), "RamProgramProblemLabel");
  for (int extra : {-1, 1}) {
    SCOPED_TRACE(extra);
    const QString path = OwnProgramFile(extra);
    EXPECT_FALSE(Options()->ChooseRamProgram(path));
    EXPECT_TRUE(Control<QLineEdit>(Form.get(), "RamProgramEdit")->text().isEmpty());
    EXPECT_TRUE(BuiltInRamProgramChosen());
    EXPECT_FALSE(problem->isHidden());
    EXPECT_EQ(problem->text(), QString("RAM program file '%1' is %2 bytes; a RAM program is "
                                       "exactly 5888 bytes")
                                   .arg(path)
                                   .arg(5888 + extra));
  }
  ASSERT_TRUE(Options()->ChooseRamProgram(OwnProgramFile()));
  EXPECT_TRUE(problem->isHidden());
  ASSERT_TRUE(Start());
  EXPECT_EQ(StatusText(Form.get(), 0), DownloadDone);
}

TEST_F(RunOptionsFixture, ARememberedFileThatIsNoLongerOneStopsTheStartBeforeThePortOpens) {
  const QString path = Xdg.Root() + "/grown.bin";
  Store(RamProgramFileValue, path);
  std::vector<uint8_t> grown(RamProgram.begin(), RamProgram.end());
  grown.push_back(0);
  WriteFile(path, grown);
  Open();
  EXPECT_EQ(Control<QLineEdit>(Form.get(), "RamProgramEdit")->text(), path);
  EXPECT_FALSE(Control<QLabel>(Form.get(), "RamProgramProblemLabel")->isHidden());
  QTest::mouseClick(Control<QPushButton>(Form.get(), "StartAllButton"), Qt::LeftButton);
  EXPECT_EQ(Form->Worker(0), nullptr);
  EXPECT_EQ(StatusText(Form.get(), 0),
            QString("ERROR RAM program file '%1' is 5889 bytes; a RAM program is exactly 5888 "
                    "bytes")
                .arg(path));
  QTest::qWait(200);
  EXPECT_TRUE(Handset->Runs().empty());
  EXPECT_TRUE(Handset->InBootRom());
  // The operator mends the file: the next start reads it again.
  grown.pop_back();
  WriteFile(path, grown);
  ASSERT_TRUE(Start());
  EXPECT_EQ(StatusText(Form.get(), 0), DownloadDone);
}

TEST_F(RunOptionsFixture, TheWatchdogSetInTheWindowEndsASilentHandsetsRun) {
  handset::HandsetOptions silent;
  silent.SilentAfter = handset::Phase::Blocks;
  Open(silent);
  Control<QSpinBox>(Form.get(), "WatchdogSpinBox")->setValue(1);
  ASSERT_TRUE(Start());
  EXPECT_EQ(StatusText(Form.get(), 0),
            QString("ERROR Handset stopped answering: answer to block 1 (%1)")
                .arg(TimedOutErrorCode()));
}

} // namespace
} // namespace kestrune
