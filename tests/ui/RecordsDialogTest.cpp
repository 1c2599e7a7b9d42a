// The run records dialog on a database of known runs: the list newest first
// with its columns, each filter, the cap on the list, the summary beside it,
// and the export as one table of runs with the summary in a file of its own.
#include "records/Record.h"
#include "records/SqliteStore.h"
#include "records/Uuid.h"
#include "ui/RecordsDialog.h"
#include "tests/ui/UiTestSupport.h"
#ifdef _WIN32
#include "platform/RegistrySettingsStore.h"
#include "tests/ui/InMemoryRegistry.h"
#else
#include "ui/IniSettingsStore.h"
#endif

#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTreeWidget>

namespace kestrune {
namespace {

using namespace uitest;

QString StoredTime(const QDateTime &moment) {
  return moment.toUTC().toString("yyyy-MM-dd'T'HH:mm:ss.zzz'Z'");
}

struct KeptRun {
  int Channel;
  const char *Outcome;
  bool Unit;
  qint64 SecondsAgo;
  const char *Reason;
};

struct RecordsDialogFixture : ::testing::Test {
#ifdef _WIN32
  // Under Wine: a registry of the test's own and a temporary folder.
  QTemporaryDir Dir;
  RegistrySettingsStore Settings{
      std::make_unique<InMemoryRegistry>(std::make_shared<RegistryContents>())};
  QString Root() const { return Dir.path(); }
#else
  TempXdg Xdg;
  IniSettingsStore Settings{UserXdgDirectories()};
  QString Root() const { return Xdg.Root(); }
#endif
  std::string Path = (Root() + "/records.sqlite").toStdString();
  QDateTime Now = QDateTime::currentDateTime();

  records::Record Make(const KeptRun &run) const {
    records::Record r;
    r.Id = records::NewUuid();
    r.Started = StoredTime(Now.addSecs(-run.SecondsAgo)).toStdString();
    r.Ended = r.Started;
    r.Station = "bench";
    r.Channel = run.Channel;
    r.Port = "/dev/ttyUSB" + std::to_string(run.Channel - 1);
    r.Outcome = run.Outcome;
    r.Unit = run.Unit;
    r.FinalStatus = run.Reason;
    return r;
  }
  void Keep(const std::vector<KeptRun> &runs) {
    std::string why;
    auto store = records::SqliteStore::Open(Path, why);
    ASSERT_TRUE(store) << why;
    std::vector<records::Record> list;
    for (const KeptRun &run : runs)
      list.push_back(Make(run));
    ASSERT_TRUE(store->InsertAll(list, why)) << why;
  }
  std::unique_ptr<RecordsDialog> Open() {
    auto dialog = std::make_unique<RecordsDialog>(Path, true, Settings, nullptr);
    dialog->Now = [this] { return Now; };
    dialog->Reload();
    return dialog;
  }
  static QTreeWidget *List(QWidget *dialog) { return Control<QTreeWidget>(dialog, "RecordsList"); }
  static std::vector<QString> Column(QWidget *dialog, int column) {
    std::vector<QString> out;
    QTreeWidget *list = List(dialog);
    for (int i = 0; i < list->topLevelItemCount(); ++i)
      out.push_back(list->topLevelItem(i)->text(column));
    return out;
  }
  static void Choose(QWidget *dialog, const char *box, int index) {
    Control<QComboBox>(dialog, box)->setCurrentIndex(index);
  }
  static QString Summary(QWidget *dialog) {
    return Control<QPlainTextEdit>(dialog, "RecordsSummary")->toPlainText();
  }

  // Eight runs of the sample line, oldest last: ten days, five hours,
  // twenty minutes and seconds back.
  const std::vector<KeptRun> Line = {
      {1, "passed", true, 10, "다운로드 완료 !!!!!!!!!!!!!!!!!"},
      {2, "failed", true, 40, "ERROR Erase failed"},
      {2, "failed", false, 70, "ERROR 해당 COMM port 를 열 수 없습니다. (16)"},
      {1, "stopped", true, 1200, "COMM Closed"},
      {3, "passed", true, 1300, "다운로드 완료 !!!!!!!!!!!!!!!!!"},
      {1, "failed", true, 5 * 3600, "ERROR Time out"},
      {2, "stopped", false, 5 * 3600 + 5, "COMM Closed"},
      {1, "passed", true, 10 * 86400, "다운로드 완료 !!!!!!!!!!!!!!!!!"},
  };
};

TEST_F(RecordsDialogFixture, ListsEveryRunNewestFirstWithItsOutcomeChannelUnitAndReason) {
  Keep({Line[5], Line[0], Line[7], Line[2], Line[1], Line[4], Line[3], Line[6]});
  auto dialog = Open();
  ASSERT_EQ(List(dialog.get())->topLevelItemCount(), 8);
  // Newest first, whatever order they were kept in.
  std::vector<QString> times = Column(dialog.get(), 0);
  for (size_t i = 0; i < Line.size(); ++i)
    EXPECT_EQ(times[i],
              Now.addSecs(-Line[i].SecondsAgo).toString("yyyy-MM-dd HH:mm:ss")) << i;
  QTreeWidgetItem *failed = List(dialog.get())->topLevelItem(1);
  EXPECT_EQ(failed->text(1), "2");
  EXPECT_EQ(failed->text(2), "failed");
  EXPECT_EQ(failed->text(3), "yes");
  EXPECT_EQ(failed->text(4), "ERROR Erase failed");
  QTreeWidgetItem *busy = List(dialog.get())->topLevelItem(2);
  EXPECT_EQ(busy->text(3), "no unit");
  EXPECT_EQ(busy->text(4), "ERROR 해당 COMM port 를 열 수 없습니다. (16)");
  EXPECT_EQ(Control<QLabel>(dialog.get(), "RecordsListNote")->text(), "8 runs");
  // The summary is still there, the runs that reached no unit out of it.
  EXPECT_EQ(Summary(dialog.get()),
            "bench channel 1: passed 2, failed 1, stopped 1, yield 66.7%\n"
            "bench channel 2: passed 0, failed 1, stopped 0, yield 0.0%, no unit 2\n"
            "bench channel 3: passed 1, failed 0, stopped 0, yield 100.0%\n");
}

TEST_F(RecordsDialogFixture, EachFilterNarrowsTheListAndTheSummaryFollowsChannelAndTime) {
  Keep(Line);
  auto dialog = Open();
  QWidget *d = dialog.get();

  Choose(d, "RecordsOutcomeFilter", 2); // failed units only
  EXPECT_EQ(Column(d, 4), (std::vector<QString>{"ERROR Erase failed", "ERROR Time out"}));
  // The yield stays that of every unit, not of the failed ones shown.
  EXPECT_NE(Summary(d).indexOf("bench channel 1: passed 2, failed 1, stopped 1, yield 66.7%"), -1);
  Choose(d, "RecordsOutcomeFilter", 4); // no unit
  EXPECT_EQ(Column(d, 3), (std::vector<QString>{"no unit", "no unit"}));
  Choose(d, "RecordsOutcomeFilter", 1); // passed
  EXPECT_EQ(Column(d, 1), (std::vector<QString>{"1", "3", "1"}));
  Choose(d, "RecordsOutcomeFilter", 3); // stopped units: the stop while calling is no unit
  EXPECT_EQ(Column(d, 4), (std::vector<QString>{"COMM Closed"}));
  EXPECT_EQ(Column(d, 1), (std::vector<QString>{"1"}));

  Choose(d, "RecordsOutcomeFilter", 0);
  Choose(d, "RecordsChannelFilter", 2);
  EXPECT_EQ(Column(d, 1), (std::vector<QString>(3, "2")));
  EXPECT_EQ(Summary(d), "bench channel 2: passed 0, failed 1, stopped 0, yield 0.0%, no unit 2\n");

  Choose(d, "RecordsChannelFilter", 0);
  Choose(d, "RecordsTimeFilter", 1); // the last hour
  EXPECT_EQ(Column(d, 4).size(), 5u);
  EXPECT_EQ(Summary(d),
            "bench channel 1: passed 1, failed 0, stopped 1, yield 100.0%\n"
            "bench channel 2: passed 0, failed 1, stopped 0, yield 0.0%, no unit 1\n"
            "bench channel 3: passed 1, failed 0, stopped 0, yield 100.0%\n");
  Choose(d, "RecordsTimeFilter", 3); // the last seven days
  EXPECT_EQ(Column(d, 4).size(), 7u);
  Choose(d, "RecordsTimeFilter", 2); // today, from local midnight
  size_t today = 0;
  for (const KeptRun &run : Line)
    today += Now.addSecs(-run.SecondsAgo).date() == Now.date();
  EXPECT_EQ(Column(d, 4).size(), today);
  Choose(d, "RecordsTimeFilter", 0);
  EXPECT_EQ(Column(d, 4).size(), 8u);

  // Filters together.
  Choose(d, "RecordsTimeFilter", 1);
  Choose(d, "RecordsChannelFilter", 2);
  Choose(d, "RecordsOutcomeFilter", 2);
  EXPECT_EQ(Column(d, 4), (std::vector<QString>{"ERROR Erase failed"}));
}

TEST_F(RecordsDialogFixture, TheListKeepsTheNewestThousandAndSaysHowManyMatch) {
  std::vector<KeptRun> many;
  for (int i = 0; i < int(RecordsDialog::ListLimit) + 7; ++i)
    many.push_back({1 + i % 2, "passed", true, 10 + i, "다운로드 완료 !!!!!!!!!!!!!!!!!"});
  Keep(many);
  auto dialog = Open();
  ASSERT_EQ(size_t(List(dialog.get())->topLevelItemCount()), RecordsDialog::ListLimit);
  EXPECT_EQ(Column(dialog.get(), 0).front(), Now.addSecs(-10).toString("yyyy-MM-dd HH:mm:ss"));
  EXPECT_EQ(Control<QLabel>(dialog.get(), "RecordsListNote")->text(),
            "The newest 1000 of 1007 matching runs are shown; the export holds all.");
  // The summary counts all of them, not only those listed.
  EXPECT_EQ(Summary(dialog.get()), "bench channel 1: passed 504, failed 0, stopped 0, yield 100.0%\n"
                                   "bench channel 2: passed 503, failed 0, stopped 0, yield 100.0%\n");
  Choose(dialog.get(), "RecordsChannelFilter", 2);
  EXPECT_EQ(List(dialog.get())->topLevelItemCount(), 503);
  EXPECT_EQ(Control<QLabel>(dialog.get(), "RecordsListNote")->text(), "503 runs");
}

QStringList CsvLines(const QString &path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return {"cannot open " + path};
  QString text = QString::fromUtf8(file.readAll());
  if (!text.endsWith("\r\n"))
    return {"no CRLF at the end: " + text};
  text.chop(2);
  return text.split("\r\n");
}

TEST_F(RecordsDialogFixture, ExportWritesTheRunsShownAsOneTableAndTheSummaryBesideIt) {
  Keep(Line);
  auto dialog = Open();
  Choose(dialog.get(), "RecordsChannelFilter", 2);
  const QString path = Root() + "/line 2.csv";
  const QString summaryPath = Root() + "/line 2-summary.csv";
  const QString message = dialog->ExportTo(path);
  EXPECT_EQ(message, "Wrote 3 runs to " + path + " and their summary to " + summaryPath);
  QLabel *note = Control<QLabel>(dialog.get(), "RecordsExportNote");
  EXPECT_FALSE(note->isHidden());
  EXPECT_EQ(note->text(), message);

  // One table: the header and a line per run of channel 2, newest first,
  // no summary after it.
  QStringList runs = CsvLines(path);
  ASSERT_EQ(runs.size(), 4) << runs.join("|").toStdString();
  EXPECT_TRUE(runs[0].startsWith("id,started,ended,station,channel,")) << runs[0].toStdString();
  EXPECT_TRUE(runs[0].contains(",outcome,final_status,")) << runs[0].toStdString();
  EXPECT_TRUE(runs[1].contains(",ERROR Erase failed,")) << runs[1].toStdString();
  // No unit, no file chosen, no serial values, nothing sent, no job.
  EXPECT_TRUE(runs[2].endsWith(",false,,{},,,,")) << runs[2].toStdString();
  for (int i = 1; i < 4; ++i)
    EXPECT_TRUE(runs[i].contains(",bench,2,/dev/ttyUSB1,")) << runs[i].toStdString();
  EXPECT_EQ(CsvLines(summaryPath),
            (QStringList{"station,channel,passed,failed,stopped,no_unit,yield",
                         "bench,2,0,1,0,2,0.0%"}));

  // The outcome filter narrows the export too, and its summary.
  Choose(dialog.get(), "RecordsOutcomeFilter", 4);
  EXPECT_EQ(dialog->ExportTo(path), "Wrote 2 runs to " + path + " and their summary to " +
                                        summaryPath);
  EXPECT_EQ(CsvLines(path).size(), 3);
  EXPECT_EQ(CsvLines(summaryPath).value(1), "bench,2,0,0,0,2,-");
}

TEST_F(RecordsDialogFixture, ExportThatCannotWriteSaysSoAndWhere) {
  Keep(Line);
  auto dialog = Open();
  const QString path = Root() + "/no such folder/runs.csv";
  const QString message = dialog->ExportTo(path);
  EXPECT_EQ(message, "Could not create " + path);
  EXPECT_EQ(Control<QLabel>(dialog.get(), "RecordsExportNote")->text(), message);
  EXPECT_FALSE(QFile::exists(path));
}

TEST(RecordsDialogNames, TheSummaryFileIsNamedAfterTheExport) {
  EXPECT_EQ(RecordsDialog::SummaryPathFor("/tmp/a/runs.csv"), "/tmp/a/runs-summary.csv");
  EXPECT_EQ(RecordsDialog::SummaryPathFor("/tmp/a/runs.CSV"), "/tmp/a/runs-summary.csv");
  EXPECT_EQ(RecordsDialog::SummaryPathFor("/tmp/a/runs.2026.csv"), "/tmp/a/runs.2026-summary.csv");
  EXPECT_EQ(RecordsDialog::SummaryPathFor("/tmp/a/runs"), "/tmp/a/runs-summary.csv");
}

} // namespace
} // namespace kestrune
