// A connection to the line's server whose opening keeps its time limit
// (the address's connect_timeout, in whole) and can be cut short from
// another thread, and whose socket is known to that cut from the start:
// libpq's own blocking connect offers neither while the server takes the
// network connection but never answers.
#pragma once

#include "records/ServerCut.h"

#include <pqxx/connection_base>
#include <pqxx/connectionpolicy>

#include <chrono>
#include <string>

namespace kestrune::records {

class BoundedConnectPolicy : public pqxx::connectionpolicy {
public:
  BoundedConnectPolicy(const std::string &options, ServerCut *cut);
  handle do_startconnect(handle orig) override;

private:
  ServerCut *Cut;
  std::chrono::milliseconds Limit;
};

// Throws pqxx::broken_connection when it cannot connect, when the limit
// passes or when cut.
class BoundedConnection : public pqxx::connection_base {
public:
  // options: libpq's keyword form or a URL. cut may be null.
  BoundedConnection(const std::string &options, ServerCut *cut);
  ~BoundedConnection() noexcept;

private:
  std::string Options;
  BoundedConnectPolicy Policy;
};

// The address's connect_timeout; zero when it sets none.
std::chrono::milliseconds ConnectTimeLimit(const std::string &options);

} // namespace kestrune::records
