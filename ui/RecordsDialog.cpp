#include "ui/RecordsDialog.h"

#include "platform/SettingsStore.h"
#include "platform/Utf8Paths.h"
#include "records/RecordListing.h"
#include "records/RecordsLocation.h"
#include "ui/WindowRecords.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <fstream>

namespace kestrune {
namespace {

std::string ReadSetting(SettingsStore &settings, const char *name) {
  if (!settings.OpenSettings(SettingsUse::Load))
    return {};
  std::string value = settings.ReadString(name).value_or("");
  settings.CloseSettings();
  return value;
}

// A moment as the records keep their times, for the store's filter.
std::string StoredTime(const QDateTime &moment) {
  return moment.toUTC().toString("yyyy-MM-dd'T'HH:mm:ss.zzz'Z'").toStdString();
}

// A record's time as the operator reads it: local, to the second.
QString ShownTime(const std::string &stored) {
  QDateTime time = QDateTime::fromString(QString::fromStdString(stored), Qt::ISODateWithMs);
  if (!time.isValid())
    return QString::fromStdString(stored);
  return time.toLocalTime().toString("yyyy-MM-dd HH:mm:ss");
}

QString SummaryText(const std::vector<records::SummaryLine> &lines) {
  QString text;
  for (const records::SummaryLine &line : lines)
    text += QString::fromStdString(line.Station + " channel " + std::to_string(line.Channel) +
                                   ": " + records::SummaryText(line)) +
            "\n";
  return text.isEmpty() ? "No records yet.\n" : text;
}

enum Column { TimeColumn, ChannelColumn, OutcomeColumn, UnitColumn, ReasonColumn };

QTreeWidgetItem *ItemFor(const records::Record &r) {
  auto *item = new QTreeWidgetItem;
  item->setText(TimeColumn, ShownTime(r.Started));
  item->setText(ChannelColumn, QString::number(r.Channel));
  item->setText(OutcomeColumn, QString::fromStdString(r.Outcome));
  item->setText(UnitColumn, r.Unit ? "yes" : "no unit");
  item->setText(ReasonColumn, QString::fromStdString(r.FinalStatus));
  item->setToolTip(ReasonColumn, QString::fromStdString(r.FinalStatus));
  item->setToolTip(TimeColumn, QString::fromStdString(r.Started + " (UTC), port " + r.Port));
  return item;
}

} // namespace

bool OutcomeMatches(RecordsOutcome choice, const records::Record &record) {
  switch (choice) {
  case RecordsOutcome::All:
    return true;
  case RecordsOutcome::NoUnit:
    return !record.Unit;
  case RecordsOutcome::Passed:
    return record.Unit && record.Outcome == "passed";
  case RecordsOutcome::Failed:
    return record.Unit && record.Outcome == "failed";
  case RecordsOutcome::Stopped:
    return record.Unit && record.Outcome == "stopped";
  }
  return true;
}

RecordsDialog::RecordsDialog(const std::string &databasePath, bool keeping,
                             SettingsStore &settings, QWidget *parent)
    : QDialog(parent), DatabasePath(databasePath) {
  setObjectName("RecordsDialog");
  setWindowTitle("Run records");
  setSizeGripEnabled(true);
  auto *layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QString::fromStdString(
      keeping ? "Records of this station: " + databasePath : "Records are not being kept.")));

  auto *filters = new QHBoxLayout;
  OutcomeBox = new QComboBox(this);
  OutcomeBox->setObjectName("RecordsOutcomeFilter");
  OutcomeBox->addItems({"All outcomes", "Passed", "Failed", "Stopped", "No unit"});
  ChannelBox = new QComboBox(this);
  ChannelBox->setObjectName("RecordsChannelFilter");
  ChannelBox->addItem("All channels");
  for (int channel = 1; channel <= 8; ++channel)
    ChannelBox->addItem(QString("Channel %1").arg(channel));
  PeriodBox = new QComboBox(this);
  PeriodBox->setObjectName("RecordsTimeFilter");
  PeriodBox->addItems({"All times", "Last hour", "Today", "Last 7 days"});
  filters->addWidget(new QLabel("Show:"));
  filters->addWidget(OutcomeBox);
  filters->addWidget(ChannelBox);
  filters->addWidget(PeriodBox);
  filters->addStretch(1);
  layout->addLayout(filters);

  RunList = new QTreeWidget(this);
  RunList->setObjectName("RecordsList");
  RunList->setRootIsDecorated(false);
  RunList->setUniformRowHeights(true);
  RunList->setHeaderLabels({"Time", "Channel", "Outcome", "Unit", "Reason"});
  RunList->header()->setStretchLastSection(true);
  layout->addWidget(RunList, 3);
  ListNote = new QLabel(this);
  ListNote->setObjectName("RecordsListNote");
  layout->addWidget(ListNote);

  Summary = new QPlainTextEdit(this);
  Summary->setObjectName("RecordsSummary");
  Summary->setReadOnly(true);
  layout->addWidget(Summary, 1);
  ExportNote = new QLabel(this);
  ExportNote->setObjectName("RecordsExportNote");
  ExportNote->setWordWrap(true);
  ExportNote->setTextInteractionFlags(Qt::TextSelectableByMouse);
  ExportNote->hide();
  layout->addWidget(ExportNote);

  auto *form = new QFormLayout;
  auto *keep = new QCheckBox("Keep run records");
  std::string target = ReadSetting(settings, RecordsValue);
  keep->setChecked(target != "none");
  keep->setObjectName("RecordsKeepBox");
  auto *where = new QLineEdit(QString::fromStdString(target == "none" ? "" : target));
  where->setObjectName("RecordsPlaceEdit");
  where->setPlaceholderText("postgresql://host/db to send to a server; a file; empty: default");
  auto *station = new QLineEdit(QString::fromStdString(ReadSetting(settings, StationValue)));
  station->setObjectName("RecordsStationEdit");
  station->setPlaceholderText(QString::fromStdString(records::HostStationName()));
  form->addRow(keep);
  form->addRow("Server or file:", where);
  form->addRow("Station:", station);
  form->addRow(new QLabel("Changes apply at the next Start while no channel runs."));
  PlaceNote = new QLabel;
  PlaceNote->setObjectName("RecordsPlaceNote");
  PlaceNote->setWordWrap(true);
  PlaceNote->hide();
  form->addRow(PlaceNote);
  layout->addLayout(form);

  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Close);
  QPushButton *exportButton = buttons->addButton("Export CSV...", QDialogButtonBox::ActionRole);
  exportButton->setObjectName("RecordsExportButton");
  layout->addWidget(buttons);
  connect(exportButton, &QPushButton::clicked, this, [this] { AskAndExport(); });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(buttons, &QDialogButtonBox::accepted, this, [this, &settings, keep, where, station] {
    SaveSettings(settings, keep->isChecked(), where->text(), station->text());
  });
  for (QComboBox *box : {OutcomeBox, ChannelBox, PeriodBox})
    connect(box, &QComboBox::currentIndexChanged, this, [this] { Reload(); });
  resize(820, 600);
  Reload();
}

RecordsDialog::Filter RecordsDialog::CurrentFilter() const {
  Filter filter;
  filter.Outcome = RecordsOutcome(OutcomeBox->currentIndex());
  filter.Channel = ChannelBox->currentIndex();
  const QDateTime now = Now();
  switch (RecordsPeriod(PeriodBox->currentIndex())) {
  case RecordsPeriod::All:
    break;
  case RecordsPeriod::LastHour:
    filter.Store.Since = StoredTime(now.addSecs(-3600));
    break;
  case RecordsPeriod::Today:
    filter.Store.Since = StoredTime(QDateTime(now.toLocalTime().date(), QTime(0, 0)));
    break;
  case RecordsPeriod::LastWeek:
    filter.Store.Since = StoredTime(now.addDays(-7));
    break;
  }
  return filter;
}

bool RecordsDialog::ForEachRecord(const Filter &filter,
                                  const std::function<void(const records::Record &)> &take,
                                  std::string &why) const {
  auto store = records::SqliteStore::Open(DatabasePath, why);
  if (!store)
    return false;
  return store->ForEach(filter.Store, [&](const records::Record &r) {
    if (filter.Channel == 0 || r.Channel == filter.Channel)
      take(r);
  }, why);
}

void RecordsDialog::Reload() {
  const Filter filter = CurrentFilter();
  RunList->clear();
  // The summary keeps to the channel and time chosen, whatever the outcome
  // shown: its yield is of every unit in them.
  records::SummaryTally tally;
  QList<QTreeWidgetItem *> items;
  uint64_t matching = 0;
  std::string why;
  const bool read = ForEachRecord(filter, [&](const records::Record &r) {
    tally.Add(r);
    if (!OutcomeMatches(filter.Outcome, r))
      return;
    ++matching;
    if (size_t(items.size()) < ListLimit)
      items.push_back(ItemFor(r));
  }, why);
  RunList->addTopLevelItems(items);
  for (int column = 0; column < ReasonColumn; ++column)
    RunList->resizeColumnToContents(column);
  Summary->setPlainText(SummaryText(tally.Lines()));
  if (!read)
    ListNote->setText(QString::fromStdString("The records cannot be read: " + why));
  else if (matching > ListLimit)
    ListNote->setText(QString("The newest %1 of %2 matching runs are shown; the export holds all.")
                          .arg(ListLimit)
                          .arg(matching));
  else
    ListNote->setText(matching == 1 ? QString("1 run") : QString("%1 runs").arg(matching));
}

QString RecordsDialog::SummaryPathFor(const QString &path) {
  QFileInfo info(path);
  const QString base = info.suffix().compare("csv", Qt::CaseInsensitive) == 0
                           ? info.completeBaseName()
                           : info.fileName();
  return info.dir().filePath(base + "-summary.csv");
}

QString RecordsDialog::ExportTo(const QString &path) {
  const Filter filter = CurrentFilter();
  const QString summaryPath = SummaryPathFor(path);
  std::ofstream runs(PathFromUtf8(path.toStdString()), std::ios::binary);
  std::ofstream summary;
  if (runs)
    summary.open(PathFromUtf8(summaryPath.toStdString()), std::ios::binary);
  QString text;
  if (!runs || !summary) {
    text = "Could not create " + (runs ? summaryPath : path);
  } else {
    records::WriteCsvHeader(runs);
    records::SummaryTally tally;
    uint64_t count = 0;
    std::string why;
    const bool read = ForEachRecord(filter, [&](const records::Record &r) {
      if (!OutcomeMatches(filter.Outcome, r))
        return;
      tally.Add(r);
      records::WriteCsvRecord(runs, r);
      ++count;
    }, why);
    records::WriteCsvSummary(summary, tally.Lines());
    runs.close();
    summary.close();
    if (!read)
      text = QString::fromStdString("The records cannot be read: " + why);
    else if (!runs || !summary)
      text = "Could not write " + (runs ? summaryPath : path);
    else
      text = QString("Wrote %1 to %2 and their summary to %3")
                 .arg(count == 1 ? QString("1 run") : QString("%1 runs").arg(count), path,
                      summaryPath);
  }
  ExportNote->setText(text);
  ExportNote->show();
  return text;
}

void RecordsDialog::AskAndExport() {
  QString file = QFileDialog::getSaveFileName(this, "Export run records", "records.csv",
                                              "CSV (*.csv)");
  if (file.isEmpty())
    return;
  const QString text = ExportTo(file);
  if (text.startsWith("Wrote "))
    QMessageBox::information(this, "Run records", text);
  else
    QMessageBox::warning(this, "Run records", text);
}

void RecordsDialog::SaveSettings(SettingsStore &settings, bool keep, const QString &where,
                                 const QString &station) {
  const std::string target = keep ? where.trimmed().toStdString() : "none";
  const std::string name = station.trimmed().toStdString();
  if (ChannelsRunning && (target != ReadSetting(settings, RecordsValue) ||
                          name != ReadSetting(settings, StationValue))) {
    PlaceNote->setText(PlaceChangeWhileRunningText);
    PlaceNote->show();
    return;
  }
  if (!settings.OpenSettings(SettingsUse::Save)) {
    QMessageBox::warning(this, "Run records", "Could not save the settings");
    return;
  }
  settings.WriteString(RecordsValue, target);
  settings.WriteString(StationValue, name);
  settings.CloseSettings();
  accept();
}

} // namespace kestrune
