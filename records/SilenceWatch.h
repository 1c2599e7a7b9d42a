// Cuts a connection whose server has said nothing for too long. The
// server's own statement_timeout cannot help when its processes are
// stopped, and the network's limits do not fire while its machine still
// answers the connection.
#pragma once

#include "records/ServerCut.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace kestrune::records {

class SilenceWatch {
public:
  SilenceWatch(ServerCut &cut, std::chrono::milliseconds limit);
  ~SilenceWatch();
  SilenceWatch(const SilenceWatch &) = delete;
  SilenceWatch &operator=(const SilenceWatch &) = delete;

  // The server answered: the limit starts again.
  void Heard();
  // True once the limit passed and the connection was cut.
  bool Cut() const;

private:
  ServerCut &Target;
  const std::chrono::milliseconds Limit;
  mutable std::mutex Mutex;
  std::condition_variable Changed;
  std::chrono::steady_clock::time_point Last;
  bool Ending = false;
  bool CutDone = false;
  std::thread Watcher;
};

} // namespace kestrune::records
