// Sends the local records that the line's server has not taken yet, on a
// thread of its own. A record is marked sent in the local database only
// after the server committed it; a record sent again after a crash between
// the two is skipped by the server (its UUID is the key), so every record
// arrives exactly once. Channels never wait for this thread.
#pragma once

#include "records/ServerCut.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace kestrune::records {

class PgForwarder {
public:
  using Notice = std::function<void(const std::string &)>;

  // Starts at once: what is pending from earlier runs goes first.
  PgForwarder(std::string url, std::string databasePath, Notice notice);
  ~PgForwarder();
  PgForwarder(const PgForwarder &) = delete;
  PgForwarder &operator=(const PgForwarder &) = delete;

  // New records are waiting in the local database.
  void Wake();
  // Keeps sending for at most wait, then ends the thread: a server call or
  // a connection attempt still under way then is cut off by closing its
  // connection. What is left stays pending for the next start.
  void Stop(std::chrono::milliseconds wait);
  // Any thread: ends the sending at once, as a Stop whose time is up; a
  // Stop waiting meanwhile returns as soon as the thread has ended.
  void CutShort();
  // True while the latest attempt to reach the server failed.
  bool Failing() const { return FailingNow.load(); }
  // Records this forwarder has seen committed by the server.
  uint64_t Forwarded() const { return Sent.load(); }
  // True once nothing was pending at the latest look and all was sent.
  bool Idle() const { return IdleNow.load(); }

private:
  void Main();
  // Sleeps for delay unless a stop's time is up sooner.
  void Pause(std::chrono::milliseconds delay);
  bool TimeUp();

  std::string Url;
  std::string DatabasePath;
  Notice Tell;
  std::mutex Mutex;
  std::condition_variable Changed;
  bool Woken = true;
  bool Stopping = false;
  bool Ended = false;  // Main has returned
  ServerCut Cutter; // cuts the connection's calls once the time is up
  std::chrono::steady_clock::time_point Deadline;
  std::atomic<uint64_t> Sent{0};
  std::atomic<bool> IdleNow{false};
  std::atomic<bool> FailingNow{false};
  std::thread Thread;
};

} // namespace kestrune::records
