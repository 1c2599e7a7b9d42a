// The "Run records" dialog: the station's runs newest first (time, channel,
// outcome, whether a unit was reached, the reason), filtered by outcome,
// channel and time; the summary per station and channel; the export of the
// runs shown as one CSV table with the summary as a second file beside it;
// and where records go. Records are streamed from the database, never all
// held: the list keeps the newest ListLimit that match.
#pragma once

#include "records/Record.h"
#include "records/SqliteStore.h"

#include <QDateTime>
#include <QDialog>

#include <functional>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QTreeWidget;

namespace kestrune {

class SettingsStore;

// The time choice's entries, in the order the box shows them.
enum class RecordsPeriod { All, LastHour, Today, LastWeek };
// The outcome choice's entries: the summary's columns.
enum class RecordsOutcome { All, Passed, Failed, Stopped, NoUnit };

class RecordsDialog final : public QDialog {
public:
  static constexpr size_t ListLimit = 1000;

  // databasePath is read on demand; keeping says whether runs are being
  // recorded now. settings takes the records choices on Save.
  RecordsDialog(const std::string &databasePath, bool keeping, SettingsStore &settings,
                QWidget *parent);

  // Reads the records again with the filters as they are set.
  void Reload();
  // Writes the runs that match the filters to path as one CSV table, and
  // their summary to NAME-summary.csv beside it. Returns what to tell the
  // operator (also shown in the dialog): where it wrote, or why it could
  // not.
  QString ExportTo(const QString &path);
  // The summary file that goes with an export to path.
  static QString SummaryPathFor(const QString &path);

  // While channels run, a change of where records go (or of the station)
  // is refused on Save, with the reason under the settings.
  void SetChannelsRunning(bool running) { ChannelsRunning = running; }

  // The moment the time choice counts back from; tests set their own.
  std::function<QDateTime()> Now = [] { return QDateTime::currentDateTime(); };

private:
  struct Filter {
    records::RecordFilter Store; // the time, as the store reads it
    int Channel = 0;             // 0: every channel
    RecordsOutcome Outcome = RecordsOutcome::All;
  };
  Filter CurrentFilter() const;
  // Streams the records that match the time and channel, newest first.
  bool ForEachRecord(const Filter &filter, const std::function<void(const records::Record &)> &take,
                     std::string &why) const;
  void AskAndExport();
  void SaveSettings(SettingsStore &settings, bool keep, const QString &where,
                    const QString &station);

  std::string DatabasePath;
  QComboBox *OutcomeBox = nullptr;
  QComboBox *ChannelBox = nullptr;
  QComboBox *PeriodBox = nullptr;
  QTreeWidget *RunList = nullptr;
  QLabel *ListNote = nullptr;
  QPlainTextEdit *Summary = nullptr;
  QLabel *ExportNote = nullptr;
  QLabel *PlaceNote = nullptr;
  bool ChannelsRunning = false;
};

// Told on Save when channels run and the place of the records would change.
constexpr const char *PlaceChangeWhileRunningText =
    "Channels are running: where records go, and the station's name, can change only while no "
    "channel runs. Stop every channel, then save again.";

// Whether a record falls under the outcome choice: a run that reached no
// unit is under "no unit" only.
bool OutcomeMatches(RecordsOutcome choice, const records::Record &record);

} // namespace kestrune
