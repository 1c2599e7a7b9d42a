// The window's production job: "Open job..." (or --job FILE on the window's
// command line) applies the job's image and settings to the classic
// controls and locks them; the image's digest is checked before every
// start, and the job may ask the operator to type its first 8 hex digits
// before the first unit. Closing the job needs the supervisor's password.
#include "engine/RamProgramSource.h"
#include "image/ImageDigest.h"
#ifdef KESTRUNE_HAVE_JOB_COUNT
#include "jobcount/JobCountGate.h"
#include "records/RecordsLocation.h"
#include "records/ServerAddress.h"
#endif
#include "ui/JobModePanel.h"
#include "ui/KestruneUiForm.h"
#include "ui/RunOptionsPanel.h"
#include "ui/SerialSchemePanel.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace kestrune {
namespace {

// What the window cannot yet apply of a job; empty when it can apply all.
std::string WindowCannotApply(const job::JobFile &job) {
  if (!job.Serial.is_null())
    return "the window takes a job's serial scheme only as a file ('path' and 'sha256')";
  if (!job.Records.empty() || !job.Station.empty())
    return "the window keeps its records where its settings say: run a job that names its "
           "records or station with kestrune-cli";
  if (job.Repeat && *job.Repeat != 0)
    return "the window repeats until stopped: a job of a number of runs needs kestrune-cli";
  return {};
}

std::string FileSha256(const std::string &path, bool &read) {
  QFile file(QString::fromStdString(path));
  read = file.open(QIODevice::ReadOnly);
  const QByteArray bytes = read ? file.readAll() : QByteArray();
  return Sha256Hex(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()));
}

} // namespace

void TKestruneUiForm::BuildJobControls() {
  JobMode = new JobModePanel(this);
  JobMode->Ask = [this](const QString &question, bool secret) -> std::optional<QString> {
    bool ok = false;
    QString text = QInputDialog::getText(this, "Kestrune", question,
                                         secret ? QLineEdit::Password : QLineEdit::Normal,
                                         QString(), &ok);
    if (!ok)
      return std::nullopt;
    return text;
  };
  connect(JobMode->OpenButton(), &QPushButton::clicked, this, [this] { ActivateJobDialog(); });
  connect(JobMode, &JobModePanel::JobChanged, this, [this] { LockPinnedControls(); });
  connect(JobMode, &JobModePanel::SettingsChanged, this, [this] { SaveSettings(); });
}

void TKestruneUiForm::ActivateJobDialog() {
  const QString path =
      QFileDialog::getOpenFileName(this, OpenJobText, QString(), "Production jobs (*.json)");
  if (path.isEmpty())
    return;
  const std::string problem = OpenJob(path);
  if (!problem.empty())
    SetStatus(0, QString::fromStdString("ERROR " + problem));
}

std::string TKestruneUiForm::OpenJob(const QString &path, bool load) {
  if (!AllChannelsIdle() || MotThread.Running())
    return "a job is opened while no channel runs and no image loads";
  if (JobMode->IsOpen())
    return "a job is open: the supervisor closes it first";
  if (std::string problem = JobMode->Open(path); !problem.empty())
    return problem;
  std::string problem = ApplyJob(JobMode->Job());
  if (!problem.empty()) {
    problem = "job " + job::JobTitle(JobMode->Job()) + " refused: " + problem;
    JobMode->Discard();
    return problem;
  }
  // Putting the job's values in may have enabled a control of its own
  // (the swap silence follows the repeat box): locked again.
  LockPinnedControls();
  if (load)
    StartMotLoad(FlashFileEdit->text());
  return {};
}

std::string TKestruneUiForm::ApplyJob(const job::JobFile &job) {
  if (std::string problem = WindowCannotApply(job); !problem.empty())
    return problem;
  if (!job.SerialPath.empty()) {
    bool read = false;
    const std::string digest = FileSha256(job.SerialPath, read);
    if (!read)
      return "cannot read its serial scheme '" + job.SerialPath + "'";
    if (digest != job.SerialSha256)
      return "serial scheme '" + job.SerialPath + "' has SHA-256 " + digest +
             ", the job pins " + job.SerialSha256;
  }
  if (std::string problem = OpenJobCount(job); !problem.empty())
    return problem;
  if (!RunOptions->ChooseRamProgram(QString::fromStdString(job.RamProgramPath)))
    return "its RAM program '" + job.RamProgramPath + "' is no RAM program";
  if (!Serials->ChooseScheme(QString::fromStdString(job.SerialPath)))
    return "its serial scheme '" + job.SerialPath + "' cannot be used";
  RunOptions->SetLimits(job.WatchdogSeconds, job.ResendLimit);
  (job.Speed == "115K"   ? Radio230Button
   : job.Speed == "460K" ? Radio460Button
                         : Radio920Button)
      ->setChecked(true);
  RepeatCheckBox->setChecked(job.Repeat.has_value());
  if (job.SwapSilenceSeconds)
    SwapSilenceSpinBox->setValue(*job.SwapSilenceSeconds);
  FlashFileEdit->setText(QString::fromStdString(job.ImagePath));
  return {};
}

std::string TKestruneUiForm::OpenJobCount(const job::JobFile &job) {
  JobGate.reset();
  if (!job.Units)
    return {};
#ifndef KESTRUNE_HAVE_JOB_COUNT
  return "this build keeps no count of units: a job with 'units' cannot run here";
#else
  jobcount::JobKey key;
  key.Name = job.Name;
  key.Version = job.Version;
  key.Units = *job.Units;
  key.Station = JobMode->StationName().empty() ? records::HostStationName()
                                                : JobMode->StationName();
  const std::string &place = JobMode->RecordsPlace();
  std::string why;
  std::unique_ptr<jobcount::JobUnitStore> store;
  if (records::IsServerUrl(place)) {
    store = jobcount::OpenPgJobUnits(place, key, why);
  } else {
    const std::string path =
        place.empty() || place == "none" ? records::DefaultRecordsPath() : place;
    store = path.empty() ? nullptr : jobcount::OpenSqliteJobUnits(path, key, why);
  }
  if (!store)
    return "cannot count its units: " + (why.empty() ? std::string("no records database") : why);
  JobGate = std::make_shared<jobcount::JobCountGate>(key, std::move(store));
  return {};
#endif
}

void TKestruneUiForm::LockPinnedControls() {
  const bool free = !JobMode->IsOpen();
  if (free)
    JobGate.reset();
  for (QWidget *pinned : std::initializer_list<QWidget *>{RadioGroup1, GroupBox2, Serials,
                                                           RunOptions, RepeatCheckBox})
    pinned->setEnabled(free);
  ShowSwapSilenceEnabled(free && RepeatCheckBox->isChecked());
}

bool TKestruneUiForm::CloseJob() { return JobMode->CloseAsked(); }

const JobModePanel &TKestruneUiForm::JobModeView() const { return *JobMode; }

std::string TKestruneUiForm::JobImageProblem() const {
  if (!JobMode->IsOpen())
    return {};
  const job::JobFile &job = JobMode->Job();
  const std::string title = "job " + job::JobTitle(job) + " refused: ";
  // The bytes the load produced are the bytes every channel sends.
  if (!Image || Image->Sha256 != job.ImageSha256)
    return title + "image '" + job.ImagePath + "' has SHA-256 " +
           (Image ? Image->Sha256 : std::string("(not loaded)")) + ", the job pins " +
           job.ImageSha256;
  if (!job.RamProgramPath.empty()) {
    const std::string digest = RamProgramDigest(*ChosenRamProgram());
    if (digest != job.RamProgramSha256)
      return title + "RAM program '" + job.RamProgramPath + "' has SHA-256 " + digest +
             ", the job pins " + job.RamProgramSha256;
  }
  return {};
}

std::string TKestruneUiForm::JobStartProblem() {
  if (std::string problem = JobImageProblem(); !problem.empty())
    return problem;
  if (!JobMode->IsOpen() || !JobMode->NeedsDigest())
    return {};
  const job::JobFile &job = JobMode->Job();
  std::optional<QString> typed;
  if (JobMode->Ask)
    typed = JobMode->Ask(QString::fromStdString("Job " + job::JobTitle(job) +
                                                ": type the first 8 hex digits of the image's "
                                                "SHA-256"),
                         false);
  if (!typed || !JobMode->ConfirmDigest(*typed))
    return "the digest typed is not job " + job::JobTitle(job) +
           "'s image's: no unit starts";
  return {};
}

void TKestruneUiForm::TakeCommandLineJob() {
  const QStringList &arguments = Environment.Arguments;
  for (qsizetype i = 1; i + 1 < arguments.size(); ++i)
    if (arguments[i] == "--job") {
      JobProblemAtStart = OpenJob(arguments[i + 1], false);
      return;
    }
}

} // namespace kestrune
