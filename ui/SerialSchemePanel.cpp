#include "ui/SerialSchemePanel.h"

#include "platform/SettingsStore.h"
#include "records/RecordsLocation.h"
#include "records/ServerAddress.h"
#include "serial/OpenLedger.h"
#include "serial/SerialScheme.h"
#include "serial/UnitSerials.h"
#include "ui/ButtonIcons.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QTimer>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

namespace kestrune {

SerialSchemePanel::SerialSchemePanel(QWidget *parent) : QWidget(parent) {
  setObjectName("SerialSchemePanel");
  auto *grid = new QGridLayout(this);
  grid->setContentsMargins(0, 0, 0, 0);
  auto *label = new QLabel("Serial scheme", this);
  label->setObjectName("SerialSchemeLabel");
  SchemeEdit = new QLineEdit(this);
  SchemeEdit->setObjectName("SerialSchemeEdit");
  SchemeEdit->setReadOnly(true);
  SchemeEdit->setPlaceholderText("None: every unit gets the image as it is");
  SchemeEdit->setToolTip("The values written into each unit (JSON scheme)");
  SchemeButton = new QToolButton(this);
  SchemeButton->setObjectName("SerialSchemeButton");
  SchemeButton->setIcon(OpenFileIcon());
  SchemeButton->setAutoRaise(true);
  SchemeButton->setToolTip("Select Serial Scheme File");
  NoSchemeButton = new QToolButton(this);
  NoSchemeButton->setObjectName("NoSerialSchemeButton");
  NoSchemeButton->setText("None");
  NoSchemeButton->setToolTip("Write no serial values");
  auto *row = new QHBoxLayout;
  row->addWidget(SchemeEdit, 1);
  row->addWidget(SchemeButton);
  row->addWidget(NoSchemeButton);
  grid->addWidget(label, 0, 0);
  grid->addLayout(row, 0, 1);
  ProblemLabel = new QLabel(this);
  ProblemLabel->setObjectName("SerialSchemeProblemLabel");
  ProblemLabel->setWordWrap(true);
  ProblemLabel->setStyleSheet("QLabel { color: #8e1b1b; }");
  ProblemLabel->hide();
  grid->addWidget(ProblemLabel, 1, 1);
  StatusLabel = new QLabel(this);
  StatusLabel->setObjectName("SerialStatusLabel");
  StatusLabel->setWordWrap(true);
  StatusLabel->hide();
  grid->addWidget(StatusLabel, 2, 1);
  connect(SchemeButton, &QToolButton::clicked, this, &SerialSchemePanel::Browse);
  connect(NoSchemeButton, &QToolButton::clicked, this, [this] { ChooseScheme(QString()); });
}

SerialSchemePanel::~SerialSchemePanel() = default;

void SerialSchemePanel::Load(SettingsStore &settings) {
  // A remembered file stays named even when it no longer reads: the
  // problem is shown and nothing starts until the operator chooses.
  if (auto path = settings.ReadString(SerialSchemeFileValue); path && !path->empty()) {
    SchemeEdit->setText(QString::fromStdString(*path));
    ShowProblem(CheckScheme());
  }
}

void SerialSchemePanel::Save(SettingsStore &settings) const {
  settings.WriteString(SerialSchemeFileValue,
                       (Pinned ? FileChoice : SchemeEdit->text()).toStdString());
}

void SerialSchemePanel::SetLedgerPlace(const std::string &records, const std::string &station) {
  Records = records;
  Station = station;
  // A job's own place stays in use while the job is open.
  if (!PlacePinned)
    UsePlace(records, station);
}

void SerialSchemePanel::UsePlace(const std::string &records, const std::string &station) {
  if (records == UsedRecords && station == UsedStation && Ledger)
    return;
  UsedRecords = records;
  UsedStation = station;
  Ledger.reset();
  Values.reset();
}

void SerialSchemePanel::PinScheme(std::shared_ptr<const serial::SerialScheme> scheme,
                                  const QString &label) {
  if (!Pinned)
    FileChoice = SchemeEdit->text();
  Pinned = true;
  SchemeEdit->setText(scheme ? label : QString());
  Scheme = std::move(scheme);
  Values.reset();
  ShowProblem({});
  RefreshStatus();
}

void SerialSchemePanel::PinLedgerPlace(const std::string &records, const std::string &station) {
  PlacePinned = true;
  UsePlace(records, station);
}

void SerialSchemePanel::Unpin() {
  if (PlacePinned) {
    PlacePinned = false;
    UsePlace(Records, Station);
  }
  if (!Pinned)
    return;
  Pinned = false;
  SchemeEdit->setText(FileChoice);
  FileChoice.clear();
  Scheme.reset();
  Values.reset();
  ShowProblem(CheckScheme());
  RefreshStatus();
}

QString SerialSchemePanel::SchemePath() const { return SchemeEdit->text(); }

bool SerialSchemePanel::ChooseScheme(const QString &path) {
  if (path.isEmpty()) {
    SchemeEdit->clear();
    Scheme.reset();
    Values.reset();
    ShowProblem({});
    RefreshStatus();
    return true;
  }
  auto scheme = std::make_shared<serial::SerialScheme>();
  std::string error;
  if (!serial::ReadScheme(path.toStdString(), *scheme, error)) {
    ShowProblem(error);
    return false;
  }
  SchemeEdit->setText(path);
  Scheme = std::move(scheme);
  Values.reset();
  ShowProblem({});
  RefreshStatus();
  return true;
}

std::string SerialSchemePanel::CheckScheme() {
  if (Pinned)
    return {};
  const QString path = SchemeEdit->text();
  if (path.isEmpty()) {
    Scheme.reset();
    Values.reset();
    return {};
  }
  // Read again: the file may have been edited since it was chosen.
  auto scheme = std::make_shared<serial::SerialScheme>();
  std::string error;
  if (!serial::ReadScheme(path.toStdString(), *scheme, error)) {
    ShowProblem(error);
    return error;
  }
  Scheme = std::move(scheme);
  Values.reset();
  ShowProblem({});
  return {};
}

std::string SerialSchemePanel::ValuesFor(const std::shared_ptr<const ImageBytes> &image,
                                         std::shared_ptr<UnitValues> &values) {
  values = nullptr;
  if (!Scheme || !image)
    return {};
  if (Values && ValuesImage == image) {
    values = Values;
    return {};
  }
  std::string error;
  if (!Ledger) {
    serial::LedgerPlace place;
    const bool server = records::IsServerUrl(UsedRecords);
    place.StationDatabase = server || UsedRecords.empty() || UsedRecords == "none"
                                ? records::DefaultRecordsPath()
                                : UsedRecords;
    if (server)
      place.ServerUrl = UsedRecords;
    place.Station = UsedStation.empty() ? records::HostStationName() : UsedStation;
    // The window's own thread asks for the status: the line's figures are
    // shown once the ledger has read them, never waited for.
    place.StatusWait = std::chrono::milliseconds(0);
    Ledger = serial::OpenLedger(place, error);
    if (!Ledger)
      return error;
  }
  Values = serial::UnitSerials::Make(Scheme, image->StartAddress, image->DataSize(), Ledger,
                                     UsedStation.empty() ? records::HostStationName()
                                                         : UsedStation,
                                     error);
  if (!Values)
    return error;
  ValuesImage = image;
  values = Values;
  RefreshStatus();
  return {};
}

void SerialSchemePanel::RefreshStatus() {
  if (!Values) {
    StatusLabel->hide();
    return;
  }
  QString text;
  bool stationOnly = false;
  for (const serial::PoolStatus &pool : Values->Ledger().Status(Values->Requests())) {
    stationOnly = stationOnly || pool.StationOnly;
    if (!text.isEmpty())
      text += "   ";
    text += QString(pool.StationOnly ? "%1: next %2, %3 left in this station's leases"
                                     : "%1: next %2, %3 left")
                .arg(QString::fromStdString(pool.Field),
                     pool.NextText ? QString::fromStdString(*pool.NextText) : QString("none"))
                .arg(qulonglong(pool.Left));
  }
  StatusLabel->setText(text);
  StatusLabel->setVisible(!text.isEmpty());
  // The line's figures are read by the ledger's own thread, never waited
  // for here: looked at again until they come.
  if (stationOnly && !RefreshDue) {
    RefreshDue = true;
    QTimer::singleShot(2000, this, [this] {
      RefreshDue = false;
      RefreshStatus();
    });
  }
}

void SerialSchemePanel::ShowProblem(const std::string &problem) {
  ProblemLabel->setText(QString::fromStdString(problem));
  ProblemLabel->setVisible(!problem.empty());
}

void SerialSchemePanel::Browse() {
  QString path = QFileDialog::getOpenFileName(this, "Select Serial Scheme File", SchemePath(),
                                              "Serial scheme (*.json);;All files (*)");
  if (!path.isEmpty())
    ChooseScheme(path);
}

} // namespace kestrune
