// Lets one thread end another's calls to the line's server at once: a
// connection attempt under way, or a statement waiting for a server that
// does not answer. Once cut, every later call on that connection fails too.
#pragma once

#include <mutex>

namespace kestrune::records {

class ServerCut {
public:
  // Any thread. Shuts the connection's socket, so a call blocked on it
  // returns with an error.
  void Cut();
  bool IsCut() const;
  // The connection's socket, -1 for none; the one calling the server sets it.
  // A socket given after the cut is shut at once.
  void SetSocket(int socket);

private:
  mutable std::mutex Mutex;
  bool Done = false;
  int Socket = -1;
};

} // namespace kestrune::records
