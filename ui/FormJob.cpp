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
#include "serial/JobScheme.h"
#include "ui/JobModePanel.h"
#include "ui/KestruneUiForm.h"
#include "ui/RunOptionsPanel.h"
#include "ui/SerialSchemePanel.h"
#include "ui/WindowRecords.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

#include <algorithm>

namespace kestrune {
namespace {

// Whether the job names where its runs are kept or under which station:
// then that job's runs, values and count go there, as the command line's
// do; otherwise where the window's settings say.
bool NamesItsPlace(const job::JobFile &job) {
  return !job.Records.empty() || !job.Station.empty();
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
  // The scheme is read and checked once, here: the runs use what was read,
  // whatever happens to its files later.
  auto scheme = std::make_shared<serial::SerialScheme>();
  std::string error;
  if (!serial::ReadJobScheme(job, *scheme, error))
    return error;
  if (std::string problem = OpenJobCount(job); !problem.empty())
    return problem;
  if (!RunOptions->ChooseRamProgram(QString::fromStdString(job.RamProgramPath)))
    return "its RAM program '" + job.RamProgramPath + "' is no RAM program";
  if (NamesItsPlace(job)) {
    Serials->PinLedgerPlace(job.Records, job.Station);
    if (JobRecords)
      JobRecords->Close();
    JobRecords = std::make_unique<WindowRecords>(job.Records, job.Station, this);
  }
  const std::string label = job.SerialPath.empty()
                                ? "(the scheme in job " + job::JobTitle(job) + ")"
                                : job.SerialPath;
  Serials->PinScheme(job::HasSerialScheme(job) ? std::move(scheme) : nullptr,
                     QString::fromStdString(label));
  RunOptions->SetLimits(job.WatchdogSeconds, job.ResendLimit);
  (job.Speed == "115K"   ? Radio230Button
   : job.Speed == "460K" ? Radio460Button
                         : Radio920Button)
      ->setChecked(true);
  RepeatCheckBox->setChecked(job.Repeat.has_value());
  if (job.Repeat)
    RepeatRunsSpinBox->setValue(
        int(std::min<uint32_t>(*job.Repeat, uint32_t(RepeatRunsSpinBox->maximum()))));
  if (job.SwapSilenceSeconds)
    SwapSilenceSpinBox->setValue(*job.SwapSilenceSeconds);
  FlashFileEdit->setText(QString::fromStdString(job.ImagePath));
  return {};
}

WindowRecords &TKestruneUiForm::RunRecords() {
  if (JobRecords && JobMode->IsOpen() && NamesItsPlace(JobMode->Job()))
    return *JobRecords;
  return *Records;
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
  const bool own = NamesItsPlace(job);
  const std::string &station = own ? job.Station : JobMode->StationName();
  key.Station = station.empty() ? records::HostStationName() : station;
  const std::string &place = own ? job.Records : JobMode->RecordsPlace();
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
  if (free) {
    JobGate.reset();
    // Back to the scheme and the place the operator had before the job.
    Serials->Unpin();
  }
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
