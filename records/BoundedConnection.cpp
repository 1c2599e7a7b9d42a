#include "records/BoundedConnection.h"

#include <libpq-fe.h>
#include <pqxx/except>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <poll.h>
#endif

#include <algorithm>
#include <cstdlib>

namespace kestrune::records {
namespace {

using Clock = std::chrono::steady_clock;

// The time left is looked at this often while the socket stays quiet.
constexpr std::chrono::milliseconds Slice{50};

// True once the socket is ready for the direction libpq asked for (or in
// error); false when one slice passed first.
bool WaitForSocket(int socket, bool reading) {
#ifdef _WIN32
  WSAPOLLFD entry{SOCKET(socket), SHORT(reading ? POLLRDNORM : POLLWRNORM), 0};
  return WSAPoll(&entry, 1, int(Slice.count())) != 0;
#else
  pollfd entry{socket, short(reading ? POLLIN : POLLOUT), 0};
  return poll(&entry, 1, int(Slice.count())) != 0;
#endif
}

[[noreturn]] void Fail(PGconn *connection, ServerCut *cut, const std::string &reason) {
  if (cut)
    cut->SetSocket(-1);
  PQfinish(connection);
  throw pqxx::broken_connection(reason);
}

} // namespace

std::chrono::milliseconds ConnectTimeLimit(const std::string &options) {
  char *error = nullptr;
  PQconninfoOption *parsed = PQconninfoParse(options.c_str(), &error);
  PQfreemem(error);
  if (!parsed)
    return std::chrono::milliseconds(0);
  long seconds = 0;
  for (PQconninfoOption *o = parsed; o->keyword; ++o)
    if (std::string(o->keyword) == "connect_timeout" && o->val)
      seconds = std::max(0L, std::strtol(o->val, nullptr, 10));
  PQconninfoFree(parsed);
  return std::chrono::milliseconds(seconds * 1000);
}

BoundedConnectPolicy::BoundedConnectPolicy(const std::string &options, ServerCut *cut)
    : pqxx::connectionpolicy(options), Cut(cut), Limit(ConnectTimeLimit(options)) {}

BoundedConnectPolicy::handle BoundedConnectPolicy::do_startconnect(handle orig) {
  if (orig)
    return orig;
  PGconn *connection = PQconnectStart(options().c_str());
  if (!connection)
    throw std::bad_alloc();
  const auto until = Clock::now() + Limit;
  PostgresPollingStatusType state = PGRES_POLLING_WRITING;
  for (;;) {
    if (Cut && Cut->IsCut())
      Fail(connection, Cut, "the wait for the server was cut short");
    if (PQstatus(connection) == CONNECTION_BAD || state == PGRES_POLLING_FAILED)
      Fail(connection, Cut, PQerrorMessage(connection));
    if (state == PGRES_POLLING_OK)
      break;
    const int socket = PQsocket(connection);
    if (Cut)
      Cut->SetSocket(socket);
    if (Limit.count() > 0 && Clock::now() >= until)
      Fail(connection, Cut, "the server did not answer within " +
                                std::to_string(Limit.count() / 1000) + " s");
    if (socket < 0)
      Fail(connection, Cut, PQerrorMessage(connection));
    // libpq is asked again only once the socket is ready, as it wants.
    if (WaitForSocket(socket, state == PGRES_POLLING_READING))
      state = PQconnectPoll(connection);
  }
  return connection;
}

BoundedConnection::BoundedConnection(const std::string &options, ServerCut *cut)
    : pqxx::connection_base(Policy), Options(options), Policy(Options, cut) {
  init();
}

BoundedConnection::~BoundedConnection() noexcept { close(); }

} // namespace kestrune::records
