// Writes a station's live channel state to the line's server every couple
// of seconds, on a thread of its own: the channels only ever publish to a
// board under its own mutex and never wait for the server. A server that
// does not answer is said once (and once when it answers again); every
// call has a bounded wait, and Stop ends the thread at once, cutting a call
// still under way.
#pragma once

#include "records/StationState.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace kestrune::records {

class ServerCut;

class StateWriter {
public:
  using Notice = std::function<void(const std::string &)>;
  static constexpr std::chrono::milliseconds DefaultInterval{2000};
  // A server silent this long in the middle of a write is taken as gone.
  static constexpr std::chrono::milliseconds SilenceLimit{8000};

  // Starts at once; board outlives the writer.
  StateWriter(std::string url, std::string station, const StationStateBoard &board,
              Notice notice, std::chrono::milliseconds interval = DefaultInterval);
  ~StateWriter();
  StateWriter(const StateWriter &) = delete;
  StateWriter &operator=(const StateWriter &) = delete;

  // Any thread; returns once the thread has ended, at once.
  void Stop();
  // Writes the server committed.
  uint64_t Writes() const { return Committed.load(); }
  // True while the latest write failed.
  bool Failing() const { return FailingNow.load(); }

private:
  void Main();
  // False once stopping.
  bool Sleep(std::chrono::milliseconds delay);

  std::string Url;
  std::string Station;
  const StationStateBoard &Board;
  Notice Tell;
  std::chrono::milliseconds Interval;
  std::mutex Mutex;
  std::condition_variable Changed;
  bool Stopping = false;
  ServerCut *Current = nullptr; // the cut of the connection in use, under Mutex
  std::atomic<uint64_t> Committed{0};
  std::atomic<bool> FailingNow{false};
  std::thread Thread;
};

} // namespace kestrune::records
