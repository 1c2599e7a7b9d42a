// The window's serial scheme: the file box and buttons that choose it
// (kept in the settings like the image path), the ledger the station's
// values come from, and each field's next value and what is left.
#pragma once

#include "engine/UnitValues.h"
#include "image/ImageBytes.h"

#include <QWidget>

#include <memory>
#include <string>

class QLabel;
class QLineEdit;
class QToolButton;

namespace kestrune {

class SettingsStore;
namespace serial {
struct SerialScheme;
class SerialLedger;
class UnitSerials;
} // namespace serial

constexpr const char *SerialSchemeFileValue = "SerialSchemeFile";

class SerialSchemePanel : public QWidget {
  Q_OBJECT

public:
  explicit SerialSchemePanel(QWidget *parent = nullptr);
  ~SerialSchemePanel() override;

  void Load(SettingsStore &settings);
  void Save(SettingsStore &settings) const;
  // Where the values come from: the records settings ("", "none", a file
  // or a postgresql:// URL) and the station's name ("": the host name).
  void SetLedgerPlace(const std::string &records, const std::string &station);

  // Takes the file as the scheme when it reads as one, else keeps the
  // current choice; either way the outcome is shown. Empty: no scheme.
  bool ChooseScheme(const QString &path);
  QString SchemePath() const;
  // Before channels start: reads the chosen file again (a pinned scheme
  // stays as it was read). Empty when ready.
  std::string CheckScheme();

  // An open job's scheme (null: the job writes no values), read and checked
  // once: every run uses it, whatever file the box names, until Unpin.
  // The box shows label; the settings keep the file chosen before.
  void PinScheme(std::shared_ptr<const serial::SerialScheme> scheme, const QString &label);
  // An open job's place for the values, in place of the settings' one.
  void PinLedgerPlace(const std::string &records, const std::string &station);
  // Back to the file and the place chosen before the job.
  void Unpin();
  bool IsPinned() const { return Pinned; }
  bool PlaceIsPinned() const { return PlacePinned; }
  // The values for runs of this image (null without a scheme); empty when
  // ready, else the reason, and then the channel may not start.
  std::string ValuesFor(const std::shared_ptr<const ImageBytes> &image,
                        std::shared_ptr<UnitValues> &values);
  // Shows each field's next value and what is left.
  void RefreshStatus();

private:
  void ShowProblem(const std::string &problem);
  void Browse();

  QLineEdit *SchemeEdit = nullptr;
  QToolButton *SchemeButton = nullptr;
  QToolButton *NoSchemeButton = nullptr;
  QLabel *ProblemLabel = nullptr;
  QLabel *StatusLabel = nullptr;

  // The settings' place, and the one in use (a job's while it pins one).
  std::string Records;
  std::string Station;
  std::string UsedRecords;
  std::string UsedStation;
  bool Pinned = false;      // a job's scheme
  bool PlacePinned = false; // a job's place
  bool RefreshDue = false;  // a look again at the line's figures is set
  QString FileChoice; // the box's file while a job's scheme is pinned
  void UsePlace(const std::string &records, const std::string &station);
  std::shared_ptr<const serial::SerialScheme> Scheme;
  // Opened once and kept: every channel's runs share the one ledger.
  std::shared_ptr<serial::SerialLedger> Ledger;
  // The scheme placed in the image last started, remade for another.
  std::shared_ptr<serial::UnitSerials> Values;
  std::shared_ptr<const ImageBytes> ValuesImage;
};

} // namespace kestrune
