#include "records/StateWriter.h"

#include "records/PgRecords.h"
#include "records/PgStationState.h"
#include "records/QuietThread.h"
#include "records/ServerAddress.h"
#include "records/ServerLink.h"

#include <pqxx/pqxx>

#include <memory>

namespace kestrune::records {

StateWriter::StateWriter(std::string url, std::string station, const StationStateBoard &board,
                         Notice notice, std::chrono::milliseconds interval)
    : Url(WithClientLimits(url)), Station(std::move(station)), Board(board),
      Interval(interval) {
  Tell = [this, notice = std::move(notice)](const std::string &text) {
    if (notice)
      notice(WithoutPassword(text, Url));
  };
  Thread = std::thread([this] { Main(); });
}

StateWriter::~StateWriter() { Stop(); }

void StateWriter::Stop() {
  {
    std::lock_guard lock(Mutex);
    Stopping = true;
    if (Current)
      Current->Cut();
    Changed.notify_all();
  }
  if (Thread.joinable() && Thread.get_id() != std::this_thread::get_id())
    Thread.join();
}

bool StateWriter::Sleep(std::chrono::milliseconds delay) {
  std::unique_lock lock(Mutex);
  Changed.wait_for(lock, delay, [this] { return Stopping; });
  return !Stopping;
}

void StateWriter::Main() {
  BlockProcessSignals();
  // One connection at a time, with a cut of its own: a cut connection is
  // never used again.
  std::unique_ptr<ServerLink> link;
  auto drop = [&] {
    {
      std::lock_guard lock(Mutex);
      Current = nullptr;
    }
    link.reset();
  };
  bool downTold = false;
  // Nothing to show before the front end's first publish, which comes
  // soon after the start.
  while (!Board.HasState())
    if (!Sleep(std::chrono::milliseconds(50))) {
      drop();
      return;
    }
  do {
    const std::vector<ChannelState> channels = Board.Snapshot();
    try {
      if (!link) {
        link = std::make_unique<ServerLink>();
        {
          std::lock_guard lock(Mutex);
          if (Stopping)
            break;
          Current = &link->Cut;
        }
        link->Connect(Url, SilenceLimit);
        EnsureStateTable(*link->Server);
      }
      link->Watch->Heard();
      WriteStationState(*link->Server, Station, channels);
      link->Watch->Heard();
      ++Committed;
      FailingNow = false;
      if (downTold)
        Tell("channel state reaches the server again");
      downTold = false;
    } catch (const std::exception &failure) {
      const bool silent = link && link->Silent();
      drop();
      FailingNow = true;
      {
        std::lock_guard lock(Mutex);
        if (Stopping)
          break;
      }
      if (!downTold)
        Tell("channel state is not reaching the server (" +
             (silent ? std::string("the server said nothing for ") +
                           std::to_string(SilenceLimit.count() / 1000) + " s"
                     : ServerFailureText(failure)) +
             "); the line's dashboard shows this station offline until it answers");
      downTold = true;
    }
  } while (Sleep(Interval));
  drop();
}

} // namespace kestrune::records
