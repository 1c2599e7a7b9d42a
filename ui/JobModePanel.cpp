#include "ui/JobModePanel.h"

#include "job/JobSignature.h"
#include "job/SupervisorPassword.h"
#include "job/TrustedKeys.h"
#include "platform/SettingsStore.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

namespace kestrune {

JobModePanel::JobModePanel(QWidget *parent) : QWidget(parent) {
  setObjectName("JobModePanel");
  OpenJobButton = new QPushButton(OpenJobText, this);
  OpenJobButton->setObjectName("OpenJobButton");
  OpenJobButton->setToolTip("Flash a production job: its image and settings, nothing else");
  CloseJobButton = new QPushButton(CloseJobText, this);
  CloseJobButton->setObjectName("CloseJobButton");
  CloseJobButton->setToolTip("Close the job (the supervisor's password)");
  JobLabel = new QLabel(this);
  JobLabel->setObjectName("JobLabel");
  SetPasswordButton = new QPushButton("Supervisor password...", this);
  SetPasswordButton->setObjectName("SupervisorPasswordButton");
  AllowUnsignedBox = new QCheckBox("Allow unsigned jobs", this);
  AllowUnsignedBox->setObjectName("AllowUnsignedJobsBox");
  AllowUnsignedBox->setToolTip("A lab bench: open jobs without a signature (the supervisor's "
                               "password)");
  JobLabel->setWordWrap(true);
  // The job's line asks for no width of its own: the channels' columns
  // keep the room they had.
  setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);
  auto *grid = new QGridLayout(this);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->addWidget(OpenJobButton, 0, 0);
  grid->addWidget(CloseJobButton, 0, 1);
  grid->addWidget(SetPasswordButton, 1, 0);
  grid->addWidget(AllowUnsignedBox, 1, 1);
  grid->addWidget(JobLabel, 2, 0, 1, 2);
  connect(CloseJobButton, &QPushButton::clicked, this, [this] { CloseAsked(); });
  connect(SetPasswordButton, &QPushButton::clicked, this, [this] { SetPasswordAsked(); });
  // The box shows the setting; a click asks for the password first.
  connect(AllowUnsignedBox, &QCheckBox::clicked, this,
          [this](bool wanted) { ToggleUnsignedAsked(wanted); });
  Show();
}

bool JobModePanel::CloseAsked() {
  if (!Current || !Ask)
    return false;
  std::optional<QString> password = Ask(
      QString::fromStdString("The supervisor's password, to close job " + job::JobTitle(*Current)),
      true);
  if (!password)
    return false;
  if (Close(*password))
    return true;
  LastRefusal = HasPassword() ? "Wrong password: the job stays open"
                              : "No supervisor's password is set: the job stays open";
  return false;
}

void JobModePanel::SetPasswordAsked() {
  if (!Ask)
    return;
  std::optional<QString> current;
  if (HasPassword() && !(current = Ask("The supervisor's current password", true)))
    return;
  std::optional<QString> chosen = Ask("The supervisor's new password", true);
  if (!chosen)
    return;
  std::string problem = SetPassword(current.value_or(QString()), *chosen);
  LastRefusal = QString::fromStdString(problem);
  if (problem.empty())
    emit SettingsChanged();
}

void JobModePanel::ToggleUnsignedAsked(bool wanted) {
  std::optional<QString> password;
  if (Ask)
    password = Ask(wanted ? "The supervisor's password, to allow unsigned jobs"
                          : "The supervisor's password, to refuse unsigned jobs",
                   true);
  if (password && SetAllowUnsigned(wanted, *password))
    emit SettingsChanged();
  else
    LastRefusal = "Wrong password: unsigned jobs stay as they were";
  Show();
}

void JobModePanel::Load(SettingsStore &settings) {
  PasswordHash = settings.ReadString(SupervisorPasswordValue).value_or("");
  AllowUnsigned = settings.ReadInteger(AllowUnsignedJobsValue).value_or(0) != 0;
  Show();
}

void JobModePanel::Save(SettingsStore &settings) const {
  settings.WriteString(SupervisorPasswordValue, PasswordHash);
  settings.WriteInteger(AllowUnsignedJobsValue, AllowUnsigned ? 1 : 0);
}

std::string JobModePanel::Open(const QString &path) {
  job::JobFile read;
  if (std::string problem = job::ReadJobFile(path.toStdString(), read); !problem.empty())
    return problem;
  const job::SignatureVerdict verdict =
      job::CheckSignature(read, Trusted.empty() ? job::DefaultTrustedKeyFolders() : Trusted);
  const bool unsignedAllowed = verdict.State == job::SignatureState::Unsigned && AllowUnsigned;
  if (verdict.State != job::SignatureState::Trusted && !unsignedAllowed)
    return "job refused: " + verdict.Text;
  Current = std::move(read);
  Confirmed = false;
  Show();
  emit JobChanged();
  return {};
}

bool JobModePanel::Close(const QString &password) {
  if (!Current || !PasswordMatches(password))
    return false;
  Current.reset();
  Show();
  emit JobChanged();
  return true;
}

void JobModePanel::Discard() {
  Current.reset();
  Show();
  emit JobChanged();
}

bool JobModePanel::PasswordMatches(const QString &password) const {
  return !PasswordHash.empty() && job::PasswordMatches(password.toStdString(), PasswordHash);
}

std::string JobModePanel::SetPassword(const QString &current, const QString &chosen) {
  if (HasPassword() && !PasswordMatches(current))
    return "the supervisor's password is not the one given";
  std::string why;
  std::string hash = job::HashPassword(chosen.toStdString(), why);
  if (hash.empty())
    return why;
  PasswordHash = std::move(hash);
  return {};
}

bool JobModePanel::SetAllowUnsigned(bool allow, const QString &password) {
  if (!PasswordMatches(password))
    return false;
  AllowUnsigned = allow;
  return true;
}

bool JobModePanel::ConfirmDigest(const QString &typed) {
  if (!Current)
    return false;
  Confirmed = typed.trimmed().toLower().toStdString() == job::DigestPrefix(*Current);
  return Confirmed;
}

void JobModePanel::Show() {
  CloseJobButton->setEnabled(Current.has_value());
  AllowUnsignedBox->setChecked(AllowUnsigned);
  // A job open: only the supervisor's way out.
  OpenJobButton->setEnabled(!Current);
  if (!Current) {
    JobLabel->setText("No job: the controls choose what is flashed");
    return;
  }
  JobLabel->setText(QString::fromStdString("Job " + Current->Name + " version " +
                                           Current->Version + ", image " +
                                           job::DigestPrefix(*Current)));
}

} // namespace kestrune
