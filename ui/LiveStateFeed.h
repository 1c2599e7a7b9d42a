// The window's channels as the line's dashboard shows them. With the
// records going to the line's server, a timer on the window's thread copies
// each channel's port, phase, progress, serial values, last outcome and
// text into a board every half second, and a state writer of its own
// thread takes the board to the server; the window's thread never waits
// for the server. The writer's notices cross back under a lock and are
// shown by the same timer.
#pragma once

#include "engine/RunReport.h"
#include "records/StationState.h"

#include <QObject>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

class QTimer;
class QWidget;

namespace kestrune {

namespace records {
class StateWriter;
}

class LiveStateFeed : public QObject {
  Q_OBJECT

public:
  // The channels as the window shows them now; Serials and LastOutcome
  // are the feed's to fill, from what it was given.
  using Look = std::function<std::vector<records::ChannelState>()>;
  static constexpr std::chrono::milliseconds DefaultInterval{500};

  // Starts feeding when url is one of the line's servers, otherwise does
  // nothing; look is called on the window's thread. window is the parent of
  // the notices.
  LiveStateFeed(const std::string &url, const std::string &station, Look look, QWidget *window,
                std::chrono::milliseconds interval = DefaultInterval);
  ~LiveStateFeed() override;

  bool Feeding() const { return Writer != nullptr; }
  // The values going into a channel's current unit (index 0 for channel
  // 1); empty values for none.
  void TakeUnitValues(int index, const std::vector<std::pair<std::string, std::string>> &values);
  // A run that has ended: its outcome stays on the board while the next
  // run runs.
  void TakeOutcome(int index, RunOutcome outcome);
  // One copy into the board (the timer's work).
  void Feed();
  // Ends the writer at once, cutting a write still under way.
  void Stop();
  const records::StationStateBoard &Board() const { return StateBoard; }

private:
  void ShowNotices();

  QWidget *Window;
  Look LookAtChannels;
  QTimer *Timer = nullptr;
  records::StationStateBoard StateBoard;
  std::vector<std::string> UnitValues;
  std::vector<std::string> LastOutcomes;
  std::mutex NoticesMutex;
  std::vector<std::string> Notices;
  std::unique_ptr<records::StateWriter> Writer;
};

} // namespace kestrune
