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

  // Where records go now: the settings as read when the recorder started.
  const std::string &Target() const { return PlaceTarget; }
  const std::string &StationSetting() const { return PlaceStation; }
  // Only while no channel runs. True when the settings name another place
  // than the recorder's: the old recorder writes everything it took into
  // its own database (what its server has not taken stays there, marked
  // unsent) and a new one starts on the place the settings name.
  bool FollowSettings(SettingsStore &settings);

  // Called on a channel's worker thread: returns once the run's record is
  // written, or once the failure to write it has been said.
  void Record(const RunReport &report);
  // Writes every record taken; bounded wait for the server.
  void Close();
  // The window's close: writes every record taken, ends the wait for the
  // server at once, and returns what is still to be told (the records the
  // server has not taken, kept in the station's database), or nothing.
  std::vector<std::string> CloseNow();
  // Summary, CSV export and the settings; while channels run the place of
  // the records cannot be changed there.
  void ShowDialog(SettingsStore &settings, bool channelsRun = false);
  const records::Recorder *Recorder() const { return Keeper.get(); }

private:
  void Open(std::string target, std::string station);
  void ShowNotices();

  QWidget *Window;
  std::string PlaceTarget;
  std::string PlaceStation;
  std::unique_ptr<records::Recorder> Keeper;
  std::mutex NoticesMutex;
  std::vector<std::string> Notices;
  QTimer *NoticeTimer = nullptr;
};

} // namespace kestrune
