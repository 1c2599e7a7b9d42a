// Copies a WAL database's log back into the file on a thread of its own,
// so that no claim or settle waits for that copy and its flush to the disk
// (the ledger's connection does not do it itself). Passive: it never
// blocks the programs writing.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

struct sqlite3;

namespace kestrune::serial {

class Checkpointer {
public:
  explicit Checkpointer(std::string path);
  ~Checkpointer();
  Checkpointer(const Checkpointer &) = delete;
  Checkpointer &operator=(const Checkpointer &) = delete;

private:
  void Main();

  std::string Path;
  std::mutex Mutex;
  std::condition_variable Changed;
  bool Stopping = false;
  std::thread Thread;
};

} // namespace kestrune::serial
