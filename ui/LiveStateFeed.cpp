#include "ui/LiveStateFeed.h"

#include "records/ServerAddress.h"
#include "records/StateWriter.h"

#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include <algorithm>

namespace kestrune {

LiveStateFeed::LiveStateFeed(const std::string &url, const std::string &station, Look look,
                             QWidget *window, std::chrono::milliseconds interval)
    : Window(window), LookAtChannels(std::move(look)) {
  if (!records::IsServerUrl(url))
    return;
  // The board has the channels before the writer's first look at it.
  Feed();
  Writer = std::make_unique<records::StateWriter>(url, station, StateBoard,
                                                  [this](const std::string &text) {
                                                    std::lock_guard lock(NoticesMutex);
                                                    Notices.push_back(text);
                                                  });
  Timer = new QTimer(this);
  connect(Timer, &QTimer::timeout, this, [this] {
    Feed();
    ShowNotices();
  });
  Timer->start(interval);
}

LiveStateFeed::~LiveStateFeed() { Stop(); }

void LiveStateFeed::TakeUnitValues(int index,
                                   const std::vector<std::pair<std::string, std::string>> &values) {
  if (index < 0)
    return;
  if (UnitValues.size() <= size_t(index))
    UnitValues.resize(index + 1);
  std::string text;
  for (const auto &[field, value] : values)
    text += (text.empty() ? "" : " ") + field + "=" + value;
  UnitValues[index] = std::move(text);
}

void LiveStateFeed::TakeOutcome(int index, RunOutcome outcome) {
  if (index < 0)
    return;
  if (LastOutcomes.size() <= size_t(index))
    LastOutcomes.resize(index + 1);
  LastOutcomes[index] = RunOutcomeName(outcome);
}

void LiveStateFeed::Feed() {
  std::vector<records::ChannelState> channels = LookAtChannels();
  UnitValues.resize(std::max(UnitValues.size(), channels.size()));
  LastOutcomes.resize(std::max(LastOutcomes.size(), channels.size()));
  for (size_t i = 0; i < channels.size(); ++i) {
    channels[i].Serials = UnitValues[i];
    channels[i].LastOutcome = LastOutcomes[i];
  }
  StateBoard.Publish(std::move(channels));
}

void LiveStateFeed::Stop() {
  if (Timer)
    Timer->stop();
  if (Writer)
    Writer->Stop();
}

void LiveStateFeed::ShowNotices() {
  std::vector<std::string> taken;
  {
    std::lock_guard lock(NoticesMutex);
    taken.swap(Notices);
  }
  // Not modal: the channels go on while the operator reads it.
  for (const std::string &text : taken) {
    auto *box = new QMessageBox(QMessageBox::Warning, "Line state", QString::fromStdString(text),
                                QMessageBox::Ok, Window);
    box->setObjectName("LineStateNotice");
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
  }
}

} // namespace kestrune
