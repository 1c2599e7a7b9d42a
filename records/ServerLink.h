// One connection to the line's server with a cut of its own: another thread
// can end its calls at once, from before it connects, and a server that
// says nothing for too long is cut (the network's limits do not fire while
// its machine still answers). A cut link is never used again.
#pragma once

#include "records/BoundedConnection.h"
#include "records/ServerCut.h"
#include "records/SilenceWatch.h"

#include <chrono>
#include <memory>
#include <string>

namespace kestrune::records {

struct ServerLink {
  // Throws as the connection does.
  void Connect(const std::string &url, std::chrono::milliseconds silence) {
    Silence = silence;
    Server = std::make_unique<BoundedConnection>(url, &Cut);
    Cut.SetSocket(Server->sock());
    Watch = std::make_unique<SilenceWatch>(Cut, silence);
  }
  // True when the server's silence cut the link.
  bool Silent() const { return Watch && Watch->Cut(); }
  ~ServerLink() {
    Watch.reset();
    Cut.SetSocket(-1); // no cut reaches the socket once it is closed
  }

  ServerCut Cut;
  std::unique_ptr<BoundedConnection> Server;
  std::unique_ptr<SilenceWatch> Watch;
  std::chrono::milliseconds Silence{0};
};

} // namespace kestrune::records
