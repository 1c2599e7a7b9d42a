// The window in operator mode: a signed job opened from "Open job..." (or
// the window's command line) locks every control it pins, only the
// supervisor's password closes it, the password is kept as a salted hash,
// unsigned jobs open only once the supervisor allows them, and a job that
// asks for it makes the operator type its image digest before the first
// unit: a wrong entry starts nothing, the right one flashes.
#include "engine/CommsThread.h"
#include "engine/RamProgramSource.h"
#include "handset/VirtualHandset.h"
#include "image/ImageDigest.h"
#include "image/MotLoaderThread.h"
#include "job/JobSignature.h"
#include "records/SqliteStore.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/IniSettingsStore.h"
#include "ui/JobModePanel.h"
#include "ui/WindowRecords.h"
#include "ui/SerialSchemePanel.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QToolButton>

#include <chrono>
#include <fstream>

namespace kestrune {
namespace {

using namespace uitest;
using handset::HandsetOptions;

const char *const DownloadDone = "다운로드 완료 !!!!!!!!!!!!!!!!!";
using handset::VirtualHandset;

struct JobWindow : ::testing::Test {
  TempXdg Xdg;
  std::vector<uint8_t> Image = std::vector<uint8_t>(2 * 32768 + 300, 0x5A);
  std::unique_ptr<VirtualHandset> Handset;
  std::unique_ptr<ScopedEnv> Ports;
  std::unique_ptr<TKestruneUiForm> Form;
  // What the window's questions are answered with, in order; nothing more:
  // cancelled.
  std::vector<QString> Answers;
  std::vector<QString> Questions;

  void SetUp() override {
    QFile out(Path("image.bin"));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(reinterpret_cast<const char *>(Image.data()), qint64(Image.size()));
    out.close();
    const QString keys = Xdg.ConfigHome() + "/Orv/Kestrune/trusted-keys";
    ASSERT_TRUE(QDir().mkpath(keys));
    ASSERT_EQ(job::MakeKeyPair(Path("key.pem").toStdString(),
                               (keys + "/line.pem").toStdString()),
              "");
    Handset = std::make_unique<VirtualHandset>();
    ASSERT_TRUE(Handset->StartOnPty());
    Ports = std::make_unique<ScopedEnv>("KESTRUNE_PORTS", Handset->DevicePath());
  }
  void TearDown() override {
    Form.reset();
    EXPECT_EQ(TCommsThread::LiveWorkers(), 0);
    UseRamProgram(nullptr);
  }
  QString Path(const QString &name) const { return Xdg.Root() + "/" + name; }
  std::string Digest() const { return Sha256Hex(Image.data(), Image.size()); }
  nlohmann::json Document() const {
    return {{"name", "fw-line-a"},
            {"version", "3"},
            {"image", {{"path", "image.bin"}, {"sha256", Digest()}}},
            {"speed", "460K"},
            {"watchdog", 7}};
  }
  QString WriteJob(const nlohmann::json &document, bool sign = true) {
    const QString path = Path("job.json");
    std::ofstream(path.toStdString()) << document.dump();
    if (sign) {
      EXPECT_EQ(job::SignJobFile(path.toStdString(), Path("key.pem").toStdString()), "");
    }
    return path;
  }
  void Open(QStringList arguments = {"kestrune"}) {
    Form = MakeForm([] { return MotLoaderThread(); }, arguments);
    Panel()->Ask = [this](const QString &question, bool) -> std::optional<QString> {
      Questions.push_back(question);
      if (Answers.empty())
        return std::nullopt;
      QString answer = Answers.front();
      Answers.erase(Answers.begin());
      return answer;
    };
    Control<QComboBox>(Form.get(), "PortCBox")
        ->setCurrentText(QString::fromStdString(Handset->DevicePath()));
  }
  JobModePanel *Panel() { return Control<JobModePanel>(Form.get(), "JobModePanel"); }
  // The controls a job pins, each as the operator would reach it.
  std::vector<QWidget *> Pinned() {
    return {Control<QRadioButton>(Form.get(), "Radio230Button"),
            Control<QRadioButton>(Form.get(), "Radio920Button"),
            Control<QToolButton>(Form.get(), "FlashFileButton"),
            Control<QLineEdit>(Form.get(), "FlashFileEdit"),
            Control<QWidget>(Form.get(), "RunOptionsPanel"),
            Control<QWidget>(Form.get(), "SerialSchemePanel"),
            Control<QCheckBox>(Form.get(), "RepeatCheckBox"),
            Control<QDoubleSpinBox>(Form.get(), "SwapSilenceSpinBox"),
            Control<QSpinBox>(Form.get(), "RepeatRunsSpinBox")};
  }
  void ExpectLocked(bool locked) {
    // Unlocked, the swap silence follows the repeat box, as it always has.
    const bool repeat = Control<QCheckBox>(Form.get(), "RepeatCheckBox")->isChecked();
    for (QWidget *control : Pinned())
      EXPECT_EQ(control->isEnabled(),
                !locked && ((control->objectName() != "SwapSilenceSpinBox" &&
                             control->objectName() != "RepeatRunsSpinBox") ||
                            repeat))
          << control->objectName().toStdString();
  }
  QString SettingsText() {
    QFile file(Xdg.SettingsFile());
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return QString::fromUtf8(file.readAll());
  }
};

TEST_F(JobWindow, PinnedControlsAreLockedAndOnlyTheSupervisorsPasswordClosesTheJob) {
  Open();
  Answers = {"Line-A supervisor"};
  Panel()->SetPasswordAsked(); // the first time: no current password asked
  ASSERT_TRUE(Panel()->HasPassword()) << Panel()->Refusal().toStdString();
  // Kept as a salted hash, never as the password.
  const QString settings = SettingsText();
  EXPECT_TRUE(settings.contains("pbkdf2-sha256$")) << settings.toStdString();
  EXPECT_FALSE(settings.contains("Line-A supervisor")) << settings.toStdString();

  ExpectLocked(false);
  nlohmann::json repeating = Document();
  repeating["repeat"] = 0;
  repeating["swap_silence"] = 0.5;
  ASSERT_EQ(Form->OpenJob(WriteJob(repeating)), "");
  ASSERT_TRUE(WaitForLoad(*Form));
  ASSERT_EQ(Form->ImageReadyValue(), 1);
  ExpectLocked(true);
  EXPECT_TRUE(Control<QCheckBox>(Form.get(), "RepeatCheckBox")->isChecked());
  EXPECT_DOUBLE_EQ(Control<QDoubleSpinBox>(Form.get(), "SwapSilenceSpinBox")->value(), 0.5);
  EXPECT_TRUE(Control<QRadioButton>(Form.get(), "Radio460Button")->isChecked());
  EXPECT_EQ(Control<QSpinBox>(Form.get(), "WatchdogSpinBox")->value(), 7);
  EXPECT_EQ(Control<QLineEdit>(Form.get(), "FlashFileEdit")->text(), Path("image.bin"));
  const QString label = Control<QLabel>(Form.get(), "JobLabel")->text();
  EXPECT_TRUE(label.contains("fw-line-a")) << label.toStdString();
  EXPECT_TRUE(label.contains("version 3")) << label.toStdString();
  EXPECT_TRUE(label.contains(QString::fromStdString(Digest().substr(0, 8))))
      << label.toStdString();
  EXPECT_FALSE(Control<QPushButton>(Form.get(), "OpenJobButton")->isEnabled());
  EXPECT_EQ(Form->OpenJob(WriteJob(Document())), "a job is open: the supervisor closes it first");

  Answers = {"line-a supervisor"};
  EXPECT_FALSE(Form->CloseJob());
  EXPECT_EQ(Panel()->Refusal(), "Wrong password: the job stays open");
  ExpectLocked(true);
  Answers = {}; // cancelled
  EXPECT_FALSE(Form->CloseJob());
  ExpectLocked(true);
  Answers = {"Line-A supervisor"};
  EXPECT_TRUE(Form->CloseJob());
  ExpectLocked(false);
  EXPECT_TRUE(Control<QPushButton>(Form.get(), "OpenJobButton")->isEnabled());

  // Changing the password needs the current one.
  Answers = {"guess", "new one"};
  Panel()->SetPasswordAsked();
  EXPECT_FALSE(Panel()->PasswordMatches("new one"));
  EXPECT_TRUE(Panel()->PasswordMatches("Line-A supervisor"));
}

TEST_F(JobWindow, UnsignedJobsOpenOnlyOnceTheSupervisorAllowsThem) {
  Open();
  Answers = {"pw"};
  Panel()->SetPasswordAsked();
  const QString job = WriteJob(Document(), false);
  EXPECT_EQ(Form->OpenJob(job), "job refused: job fw-line-a 3 is not signed");
  Answers = {"wrong"};
  Panel()->ToggleUnsignedAsked(true);
  EXPECT_FALSE(Panel()->AllowsUnsigned());
  EXPECT_FALSE(Control<QCheckBox>(Form.get(), "AllowUnsignedJobsBox")->isChecked());
  Answers = {"pw"};
  Panel()->ToggleUnsignedAsked(true);
  EXPECT_TRUE(Panel()->AllowsUnsigned());
  EXPECT_TRUE(SettingsText().contains("AllowUnsignedJobs=1")) << SettingsText().toStdString();
  EXPECT_EQ(Form->OpenJob(job), "");
  ASSERT_TRUE(WaitForLoad(*Form));
  ExpectLocked(true);

  // A job whose image is not the one it pins opens, but starts nothing.
  Answers = {"pw"};
  ASSERT_TRUE(Form->CloseJob());
  nlohmann::json wrong = Document();
  wrong["image"]["sha256"] = std::string(64, 'e');
  ASSERT_EQ(Form->OpenJob(WriteJob(wrong)), "");
  ASSERT_TRUE(WaitForLoad(*Form));
  QTest::mouseClick(Control<QPushButton>(Form.get(), "StartButton"), Qt::LeftButton);
  EXPECT_TRUE(StatusText(Form.get(), 0).startsWith("ERROR job fw-line-a 3 refused: image '"))
      << StatusText(Form.get(), 0).toStdString();
  EXPECT_TRUE(Form->AllChannelsIdle());
  EXPECT_TRUE(Handset->Runs().empty());
}

TEST_F(JobWindow, TheDigestPromptRefusesAWrongEntryAndTheRightOneFlashes) {
  nlohmann::json document = Document();
  document["confirm_digest"] = true;
  const QString job = WriteJob(document);
  Open({"kestrune", "--job", job}); // named on the window's command line
  ASSERT_TRUE(WaitForLoad(*Form));
  ASSERT_TRUE(Panel()->IsOpen());
  ExpectLocked(true);

  Answers = {"00000000"};
  QTest::mouseClick(Control<QPushButton>(Form.get(), "StartButton"), Qt::LeftButton);
  EXPECT_EQ(StatusText(Form.get(), 0),
            "ERROR the digest typed is not job fw-line-a 3's image's: no unit starts");
  ASSERT_EQ(Questions.size(), 1u);
  EXPECT_TRUE(Questions[0].contains("first 8 hex digits")) << Questions[0].toStdString();
  EXPECT_TRUE(Form->AllChannelsIdle());

  Answers = {QString::fromStdString(Digest().substr(0, 8)).toUpper()};
  QTest::mouseClick(Control<QPushButton>(Form.get(), "StartButton"), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Form->AllChannelsIdle(); }, 30000));
  EXPECT_EQ(Handset->CompletedRuns(), 1);
  // Asked once: before the first unit only.
  QTest::mouseClick(Control<QPushButton>(Form.get(), "StartButton"), Qt::LeftButton);
  EXPECT_EQ(Questions.size(), 2u);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Form->AllChannelsIdle(); }, 30000));
}

TEST_F(JobWindow, AJobsCountOfUnitsStopsTheWindowOnceItsUnitsAreBuilt) {
  VirtualHandset second;
  ASSERT_TRUE(second.StartOnPty());
  ScopedEnv ports("KESTRUNE_PORTS", Handset->DevicePath() + ":" + second.DevicePath());
  nlohmann::json document = Document();
  document["units"] = 2;
  Open();
  Control<QComboBox>(Form.get(), ChannelControlName(1, "PortCBox"))
      ->setCurrentText(QString::fromStdString(second.DevicePath()));
  ASSERT_EQ(Form->OpenJob(WriteJob(document)), "");
  ASSERT_TRUE(WaitForLoad(*Form));
  for (int channel : {0, 1, 0}) {
    QTest::mouseClick(Control<QPushButton>(Form.get(), ChannelControlName(channel, "StartButton")),
                      Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Form->AllChannelsIdle(); }, 30000));
  }
  EXPECT_EQ(Handset->CompletedRuns() + second.CompletedRuns(), 2);
  EXPECT_EQ(Handset->Runs().size(), 1u); // the third start touched no unit
  EXPECT_EQ(StatusText(Form.get(), 0), "Job fw-line-a: all 2 units built")
      << StatusText(Form.get(), 0).toStdString();
}

// The records moved, while a job with a count of units is open, to a place
// where no count can be kept: every Start is refused, none flashes a unit
// that is not counted.
TEST_F(JobWindow, ACountThatCannotBeKeptWhereTheRecordsMovedRefusesEveryStart) {
  nlohmann::json document = Document();
  document["units"] = 2;
  Open();
  ASSERT_EQ(Form->OpenJob(WriteJob(document)), "");
  ASSERT_TRUE(WaitForLoad(*Form));
  const QString folder = Path("not-a-database");
  ASSERT_TRUE(QDir().mkpath(folder));
  {
    IniSettingsStore settings{UserXdgDirectories()};
    ASSERT_TRUE(settings.OpenSettings(SettingsUse::Save));
    settings.WriteString(RecordsValue, folder.toStdString());
    ASSERT_TRUE(settings.CloseSettings());
  }
  for (int attempt = 0; attempt < 2; ++attempt) {
    QTest::mouseClick(Control<QPushButton>(Form.get(), "StartButton"), Qt::LeftButton);
    EXPECT_TRUE(StatusText(Form.get(), 0).startsWith("ERROR job fw-line-a cannot count its units"))
        << StatusText(Form.get(), 0).toStdString();
    EXPECT_TRUE(Form->AllChannelsIdle());
  }
  QTest::qWait(300);
  EXPECT_EQ(Handset->Runs().size(), 0u);
}

// A job's serial scheme, inline or as a pinned file, is the one its runs
// use: read once when the job opens, whatever happens to its file later,
// and the operator's own scheme comes back when the job closes.
struct JobSchemeWindow : JobWindow {
  static std::string Counter(int start) {
    return nlohmann::json{{"fields",
                           {{{"name", "sn"},
                             {"offset", 256},
                             {"length", 4},
                             {"encoding", "ascii"},
                             {"counter", {{"start", start}, {"last", start + 9}}}}}}}
        .dump();
  }
  QString WriteText(const QString &name, const std::string &text) {
    std::ofstream(Path(name).toStdString(), std::ios::binary) << text;
    return Path(name);
  }
  std::string UnitSerial() {
    const std::vector<uint8_t> bytes = Handset->ReadFlash(256, 4);
    return std::string(bytes.begin(), bytes.end());
  }
  void FlashOne() {
    QTest::mouseClick(Control<QPushButton>(Form.get(), "StartButton"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Form->AllChannelsIdle(); }, 30000));
    ASSERT_EQ(StatusText(Form.get(), 0), DownloadDone) << StatusText(Form.get(), 0).toStdString();
  }
  SerialSchemePanel *Serials() { return Control<SerialSchemePanel>(Form.get(), "SerialSchemePanel"); }
};

TEST_F(JobSchemeWindow, AnInlineSchemeIsUsedForTheJobAndTheOperatorsComesBackAfter) {
  Open();
  Answers = {"pw"};
  Panel()->SetPasswordAsked();
  const QString own = WriteText("own.json", Counter(5000));
  ASSERT_TRUE(Serials()->ChooseScheme(own));
  nlohmann::json document = Document();
  document["serial"] = nlohmann::json::parse(Counter(1000));
  ASSERT_EQ(Form->OpenJob(WriteJob(document)), "");
  ASSERT_TRUE(WaitForLoad(*Form));
  const QString shown = Control<QLineEdit>(Form.get(), "SerialSchemeEdit")->text();
  EXPECT_TRUE(shown.contains("fw-line-a 3")) << shown.toStdString();
  FlashOne();
  EXPECT_EQ(UnitSerial(), "1000");
  FlashOne();
  EXPECT_EQ(UnitSerial(), "1001");

  Answers = {"pw"};
  ASSERT_TRUE(Form->CloseJob());
  EXPECT_EQ(Control<QLineEdit>(Form.get(), "SerialSchemeEdit")->text(), own);
  FlashOne();
  EXPECT_EQ(UnitSerial(), "5000");

  // Closed with the job open, the window keeps the operator's file in its
  // settings, not the job's scheme.
  ASSERT_EQ(Form->OpenJob(WriteJob(document)), "");
  ASSERT_TRUE(WaitForLoad(*Form));
  Form.reset();
  EXPECT_TRUE(SettingsText().contains("SerialSchemeFile=" + own)) << SettingsText().toStdString();
}

TEST_F(JobSchemeWindow, AJobsSchemeFileIsReadOnceAndAnInvalidInlineOneRefusesTheJob) {
  Open();
  const std::string text = Counter(2000);
  const QString scheme = WriteText("scheme.json", text);
  nlohmann::json document = Document();
  document["serial"] = {{"path", "scheme.json"},
                        {"sha256", Sha256Hex(reinterpret_cast<const uint8_t *>(text.data()),
                                             text.size())}};
  ASSERT_EQ(Form->OpenJob(WriteJob(document)), "");
  ASSERT_TRUE(WaitForLoad(*Form));
  // Changed after the job was opened: the runs keep what was checked.
  WriteText("scheme.json", Counter(7000));
  FlashOne();
  EXPECT_EQ(UnitSerial(), "2000");
  EXPECT_EQ(Control<QLineEdit>(Form.get(), "SerialSchemeEdit")->text(), scheme);

  Answers = {"pw"};
  Panel()->SetPasswordAsked();
  ASSERT_TRUE(Panel()->Close("pw"));
  nlohmann::json broken = Document();
  broken["serial"] = {{"fields", {{{"name", "sn"}, {"length", 4}, {"counter", {{"start", 1}}}}}}};
  const std::string refused = Form->OpenJob(WriteJob(broken));
  EXPECT_TRUE(refused.starts_with("job fw-line-a 3 refused: Serial field")) << refused;
  EXPECT_FALSE(Panel()->IsOpen());
  EXPECT_FALSE(Serials()->IsPinned());
}

TEST_F(JobWindow, AJobNamingItsRecordsAndStationKeepsItsRunsAndCountThere) {
  Open();
  Answers = {"pw"};
  Panel()->SetPasswordAsked();
  const std::string place = Path("line-a.sqlite").toStdString();
  nlohmann::json document = Document();
  document["records"] = place;
  document["station"] = "line-a-3";
  document["units"] = 5;
  ASSERT_EQ(Form->OpenJob(WriteJob(document)), "");
  ASSERT_TRUE(WaitForLoad(*Form));
  QTest::mouseClick(Control<QPushButton>(Form.get(), "StartButton"), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Form->AllChannelsIdle(); }, 30000));
  ASSERT_EQ(StatusText(Form.get(), 0), DownloadDone) << StatusText(Form.get(), 0).toStdString();
  Answers = {"pw"};
  ASSERT_TRUE(Form->CloseJob());
  // Back at the settings' place: the next run is kept there.
  QTest::mouseClick(Control<QPushButton>(Form.get(), "StartButton"), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Form->AllChannelsIdle(); }, 30000));
  Form.reset(); // writes every record taken

  std::string why;
  auto store = records::SqliteStore::Open(place, why);
  ASSERT_TRUE(store) << why;
  std::vector<records::Record> list;
  ASSERT_TRUE(store->List({}, list, why)) << why;
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].Station, "line-a-3");
  EXPECT_EQ(list[0].JobName, "fw-line-a");
  auto own = records::SqliteStore::Open(
      (Xdg.DataHome() + "/Orv/Kestrune/records.sqlite").toStdString(), why);
  ASSERT_TRUE(own) << why;
  list.clear();
  ASSERT_TRUE(own->List({}, list, why)) << why;
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].JobName, "");
  EXPECT_NE(list[0].Station, "line-a-3");
}

TEST_F(JobWindow, AJobOfANumberOfRunsEndsTheChannelAfterThem) {
  Handset = std::make_unique<VirtualHandset>(
      HandsetOptions{.Model = handset::RamModel::Host, .SwapAfterRunMs = 700});
  ASSERT_TRUE(Handset->StartOnPty());
  Ports.reset(); // gives back the variable before it is set again
  Ports = std::make_unique<ScopedEnv>("KESTRUNE_PORTS", Handset->DevicePath());
  Open();
  nlohmann::json document = Document();
  document["repeat"] = 2;
  document["swap_silence"] = 0.3;
  ASSERT_EQ(Form->OpenJob(WriteJob(document)), "");
  ASSERT_TRUE(WaitForLoad(*Form));
  ExpectLocked(true);
  EXPECT_EQ(Control<QSpinBox>(Form.get(), "RepeatRunsSpinBox")->value(), 2);
  const RepeatPlan plan = Form->RepeatChoice();
  EXPECT_TRUE(plan.On);
  EXPECT_EQ(plan.Runs, 2u);
  EXPECT_EQ(plan.SwapSilence, std::chrono::milliseconds(300));
  QTest::mouseClick(Control<QPushButton>(Form.get(), "StartButton"), Qt::LeftButton);
  // The channel ends by itself after its two units.
  ASSERT_TRUE(QTest::qWaitFor([&] { return Form->AllChannelsIdle(); }, 60000))
      << StatusText(Form.get(), 0).toStdString();
  EXPECT_EQ(Form->Tally(0), (RunTally{.Passed = 2, .Failed = 0}));
  EXPECT_EQ(Handset->CompletedRuns(), 2);
}

// A channel asking for a place while another program holds the station's
// database: Stop ends it within a fraction of a second, the unit untouched
// and no place taken.
TEST_F(JobWindow, StopEndsAnAskForAPlaceWhileTheDatabaseIsHeld) {
  Open();
  nlohmann::json document = Document();
  document["units"] = 3;
  document["records"] = "none"; // no record of the stopped run waits for the database
  ASSERT_EQ(Form->OpenJob(WriteJob(document)), "");
  ASSERT_TRUE(WaitForLoad(*Form));
  const std::string db = (Xdg.DataHome() + "/Orv/Kestrune/records.sqlite").toStdString();
  sqlite3 *other = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  QTest::mouseClick(Control<QPushButton>(Form.get(), "StartButton"), Qt::LeftButton);
  QTest::qWait(400);
  EXPECT_FALSE(Form->AllChannelsIdle());
  const auto stopped = std::chrono::steady_clock::now();
  QTest::mouseClick(Control<QPushButton>(Form.get(), "StopButton"), Qt::LeftButton);
  const bool ended = QTest::qWaitFor([&] { return Form->AllChannelsIdle(); }, 5000);
  const auto took = std::chrono::steady_clock::now() - stopped;
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  ASSERT_TRUE(ended);
  EXPECT_LT(took, std::chrono::milliseconds(700))
      << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
  EXPECT_TRUE(Handset->Runs().empty());
  sqlite3_stmt *count = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(other, "SELECT count(*) FROM job_units", -1, &count, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(count), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(count, 0), 0);
  sqlite3_finalize(count);
  sqlite3_close(other);
}

} // namespace
} // namespace kestrune
