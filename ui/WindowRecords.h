// The window's run records: a recorder made from the window's settings, a
// record for every run that ends, a notice when records are not being kept,
// and the records dialog (see RecordsDialog). Lives on the window's thread; the recorder's notices
// come from its threads and cross over through a lock.
#pragma once

#include "engine/RunReport.h"

#include <QObject>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QTimer;
class QWidget;

namespace kestrune {

class SettingsStore;
namespace records {
class Recorder;
}

// Setting names: where records go ("", "none", a postgresql:// URL or a
// file) and the station's name ("" for the host name).
constexpr const char *RecordsValue = "Records";
constexpr const char *StationValue = "Station";

class WindowRecords : public QObject {
  Q_OBJECT

public:
  // Reads the settings and starts recording; window is the parent of the
  // notices and the dialog.
  WindowRecords(SettingsStore &settings, QWidget *window);
  // Records kept at the place given (as the settings name one) under the
  // station's name given: an open job's own.
  WindowRecords(const std::string &records, const std::string &station, QWidget *window);
  ~WindowRecords() override;

  // Called on a channel's worker thread: returns once the run's record is
  // written, or once the failure to write it has been said.
  void Record(const RunReport &report);
  // Writes every record taken; bounded wait for the server.
  void Close();
  // Summary, CSV export and the settings.
  void ShowDialog(SettingsStore &settings);
  const records::Recorder *Recorder() const { return Keeper.get(); }

private:
  void ShowNotices();

  QWidget *Window;
  std::unique_ptr<records::Recorder> Keeper;
  std::mutex NoticesMutex;
  std::vector<std::string> Notices;
  QTimer *NoticeTimer = nullptr;
};

} // namespace kestrune
