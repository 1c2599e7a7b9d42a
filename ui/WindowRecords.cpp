#include "ui/WindowRecords.h"

#include "platform/SettingsStore.h"
#include "records/Recorder.h"
#include "records/RecordsLocation.h"
#include "ui/RecordsDialog.h"

#include <QMessageBox>
#include <QTimer>

namespace kestrune {
namespace {

std::string ReadSetting(SettingsStore &settings, const char *name) {
  if (!settings.OpenSettings(SettingsUse::Load))
    return {};
  std::string value = settings.ReadString(name).value_or("");
  settings.CloseSettings();
  return value;
}

} // namespace

WindowRecords::WindowRecords(SettingsStore &settings, QWidget *window)
    : WindowRecords(ReadSetting(settings, RecordsValue), ReadSetting(settings, StationValue),
                    window) {}

WindowRecords::WindowRecords(const std::string &records, const std::string &station,
                             QWidget *window)
    : Window(window) {
  NoticeTimer = new QTimer(this);
  connect(NoticeTimer, &QTimer::timeout, this, [this] { ShowNotices(); });
  Open(records, station);
}

WindowRecords::~WindowRecords() { Close(); }

void WindowRecords::Open(std::string target, std::string station) {
  PlaceTarget = std::move(target);
  PlaceStation = std::move(station);
  records::RecorderOptions options{PlaceTarget, PlaceStation, [this](const std::string &text) {
                                     std::lock_guard lock(NoticesMutex);
                                     Notices.push_back(text);
                                   }};
  Keeper = std::make_unique<records::Recorder>(std::move(options));
  NoticeTimer->start(250);
  ShowNotices();
}

bool WindowRecords::FollowSettings(SettingsStore &settings) {
  std::string target = ReadSetting(settings, RecordsValue);
  std::string station = ReadSetting(settings, StationValue);
  if (target == PlaceTarget && station == PlaceStation)
    return false;
  // No channel runs, so nothing more comes to the old recorder. Its server
  // is not waited for: the window would stand still meanwhile, and what it
  // has not taken is sent from that database when it is used again.
  Keeper->CutShort();
  Keeper->Close();
  Open(std::move(target), std::move(station));
  return true;
}

void WindowRecords::Record(const RunReport &report) { Keeper->Keep(report); }

void WindowRecords::Close() {
  NoticeTimer->stop();
  Keeper->Close();
}

std::vector<std::string> WindowRecords::CloseNow() {
  NoticeTimer->stop();
  Keeper->CutShort();
  Keeper->Close();
  std::vector<std::string> taken;
  std::lock_guard lock(NoticesMutex);
  taken.swap(Notices);
  return taken;
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

void WindowRecords::ShowDialog(SettingsStore &settings, bool channelsRun) {
  const std::string path = Keeper->DatabasePath().empty() ? records::DefaultRecordsPath()
                                                          : Keeper->DatabasePath();
  RecordsDialog dialog(path, Keeper->Keeping(), settings, Window);
  dialog.SetChannelsRunning(channelsRun);
  dialog.exec();
}

} // namespace kestrune
