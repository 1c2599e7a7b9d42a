// The window's operator mode: "Open job..." beside the classic controls,
// the open job's name, version and the first 8 hex digits of its image's
// digest, and the supervisor's password that guards closing the job and the
// lab bench's allowance of unsigned jobs. The password is kept only as a
// salted hash in the settings.
#pragma once

#include "job/JobFile.h"

#include <QWidget>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QPushButton;

namespace kestrune {

class SettingsStore;

constexpr const char *SupervisorPasswordValue = "SupervisorPasswordHash";
constexpr const char *AllowUnsignedJobsValue = "AllowUnsignedJobs";
constexpr const char *OpenJobText = "Open job...";
constexpr const char *CloseJobText = "Close job";

class JobModePanel : public QWidget {
  Q_OBJECT

public:
  explicit JobModePanel(QWidget *parent = nullptr);

  void Load(SettingsStore &settings);
  void Save(SettingsStore &settings) const;

  // Where the window keeps its records ("", "none", a file or a server
  // URL) and its station's name: a job's count of units is kept there.
  void SetRecordsPlace(std::string records, std::string station) {
    Records = std::move(records);
    Station = std::move(station);
  }
  const std::string &RecordsPlace() const { return Records; }
  const std::string &StationName() const { return Station; }

  // The folders whose keys are trusted; the station's own unless set.
  void SetTrustedFolders(std::vector<std::string> folders) { Trusted = std::move(folders); }

  // Reads the job and checks its signature. Empty when it is open; else the
  // reason, and the job open before (if any) stays.
  std::string Open(const QString &path);
  bool IsOpen() const { return Current.has_value(); }
  const job::JobFile &Job() const { return *Current; }
  // Closes the job when the password is the supervisor's.
  bool Close(const QString &password);
  // Closes a job the window could not apply, just after it was opened.
  void Discard();

  bool HasPassword() const { return !PasswordHash.empty(); }
  bool PasswordMatches(const QString &password) const;
  // Sets the supervisor's password: the first time freely, after that only
  // with the current one. Empty when set, else why not.
  std::string SetPassword(const QString &current, const QString &chosen);
  // Whether a job without a signature may be opened (a lab bench); turning
  // it either way needs the supervisor's password.
  bool AllowsUnsigned() const { return AllowUnsigned; }
  bool SetAllowUnsigned(bool allow, const QString &password);

  // The digest the operator types before the first unit when the job asks
  // for it: its image's first 8 hex digits, in either case.
  bool NeedsDigest() const { return Current && Current->ConfirmDigest && !Confirmed; }
  bool ConfirmDigest(const QString &typed);

  // Asks the operator for a text (secret: a password, not shown); nothing
  // when cancelled.
  std::function<std::optional<QString>(const QString &question, bool secret)> Ask;
  // The buttons' and box's own steps, through Ask.
  bool CloseAsked();
  void SetPasswordAsked();
  void ToggleUnsignedAsked(bool wanted);

  QPushButton *OpenButton() const { return OpenJobButton; }
  QPushButton *CloseButton() const { return CloseJobButton; }
  QLabel *Label() const { return JobLabel; }
  QPushButton *PasswordButton() const { return SetPasswordButton; }
  QCheckBox *UnsignedBox() const { return AllowUnsignedBox; }
  // The last refusal of a password or a digest, for the operator.
  QString Refusal() const { return LastRefusal; }

signals:
  void JobChanged();
  // The password or the allowance changed: the settings are to be saved.
  void SettingsChanged();

private:
  void Show();

  QPushButton *OpenJobButton = nullptr;
  QPushButton *CloseJobButton = nullptr;
  QLabel *JobLabel = nullptr;
  QPushButton *SetPasswordButton = nullptr;
  QCheckBox *AllowUnsignedBox = nullptr;
  QString LastRefusal;
  std::optional<job::JobFile> Current;
  std::vector<std::string> Trusted;
  std::string Records, Station;
  std::string PasswordHash;
  bool AllowUnsigned = false;
  bool Confirmed = false;
};

} // namespace kestrune
