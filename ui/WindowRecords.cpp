#include "ui/WindowRecords.h"
#include "platform/Utf8Paths.h"

#include "platform/SettingsStore.h"
#include "records/RecordListing.h"
#include "records/Recorder.h"
#include "records/RecordsLocation.h"
#include "records/SqliteStore.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
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

QString SummaryOf(const std::vector<records::Record> &list) {
  QString text;
  for (const records::SummaryLine &line : records::Summarise(list))
    text += QString::fromStdString(line.Station + " channel " + std::to_string(line.Channel) +
                                   ": " + records::SummaryText(line)) +
            "\n";
  return text.isEmpty() ? "No records yet.\n" : text;
}

} // namespace

WindowRecords::WindowRecords(SettingsStore &settings, QWidget *window) : Window(window) {
  records::RecorderOptions options{ReadSetting(settings, RecordsValue),
                                   ReadSetting(settings, StationValue),
                                   [this](const std::string &text) {
                                     std::lock_guard lock(NoticesMutex);
                                     Notices.push_back(text);
                                   }};
  Keeper = std::make_unique<records::Recorder>(std::move(options));
  NoticeTimer = new QTimer(this);
  connect(NoticeTimer, &QTimer::timeout, this, [this] { ShowNotices(); });
  NoticeTimer->start(250);
  ShowNotices();
}

WindowRecords::~WindowRecords() { Close(); }

void WindowRecords::Record(const RunReport &report) { Keeper->Keep(report); }

void WindowRecords::Close() {
  NoticeTimer->stop();
  Keeper->Close();
}

void WindowRecords::ShowNotices() {
  std::vector<std::string> taken;
  {
    std::lock_guard lock(NoticesMutex);
    taken.swap(Notices);
  }
  // Not modal: the channels go on while the operator reads it.
  for (const std::string &text : taken) {
    auto *box = new QMessageBox(QMessageBox::Warning, "Run records",
                                QString::fromStdString(text), QMessageBox::Ok, Window);
    box->setObjectName("RecordsNotice");
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
  }
}

void WindowRecords::ShowDialog(SettingsStore &settings) {
  std::vector<records::Record> list;
  std::string why;
  const std::string path = Keeper->DatabasePath().empty() ? records::DefaultRecordsPath()
                                                          : Keeper->DatabasePath();
  if (auto store = records::SqliteStore::Open(path, why))
    store->List({}, list, why);

  QDialog dialog(Window);
  dialog.setObjectName("RecordsDialog");
  dialog.setWindowTitle("Run records");
  auto *layout = new QVBoxLayout(&dialog);
  layout->addWidget(new QLabel(QString::fromStdString(
      Keeper->Keeping() ? "Records of this station: " + path : "Records are not being kept.")));
  auto *summary = new QPlainTextEdit(SummaryOf(list));
  summary->setObjectName("RecordsSummary");
  summary->setReadOnly(true);
  layout->addWidget(summary);

  auto *form = new QFormLayout;
  auto *keep = new QCheckBox("Keep run records");
  std::string target = ReadSetting(settings, RecordsValue);
  keep->setChecked(target != "none");
  auto *where = new QLineEdit(QString::fromStdString(target == "none" ? "" : target));
  where->setPlaceholderText("postgresql://host/db to send to a server; a file; empty: default");
  auto *station = new QLineEdit(QString::fromStdString(ReadSetting(settings, StationValue)));
  station->setPlaceholderText(QString::fromStdString(records::HostStationName()));
  form->addRow(keep);
  form->addRow("Server or file:", where);
  form->addRow("Station:", station);
  form->addRow(new QLabel("Changes apply at the next start."));
  layout->addLayout(form);

  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Close);
  QPushButton *exportButton = buttons->addButton("Export CSV...", QDialogButtonBox::ActionRole);
  layout->addWidget(buttons);
  connect(exportButton, &QPushButton::clicked, &dialog, [&] {
    QString file = QFileDialog::getSaveFileName(&dialog, "Export run records", "records.csv",
                                                "CSV (*.csv)");
    if (file.isEmpty())
      return;
    std::ofstream out(PathFromUtf8(file.toStdString()), std::ios::binary);
    records::WriteListing(out, list, records::ListFormat::Csv);
    if (!out)
      QMessageBox::warning(&dialog, "Run records", "Could not write " + file);
  });
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
    if (!settings.OpenSettings(SettingsUse::Save)) {
      QMessageBox::warning(&dialog, "Run records", "Could not save the settings");
      return;
    }
    settings.WriteString(RecordsValue, keep->isChecked() ? where->text().trimmed().toStdString()
                                                         : "none");
    settings.WriteString(StationValue, station->text().trimmed().toStdString());
    settings.CloseSettings();
    dialog.accept();
  });
  dialog.exec();
}

} // namespace kestrune
