// The dashboard's web server: the page at "/", its script and style, and
// the JSON API under /api/, each answer read from the line's server when it
// is asked for. With a token set, every request must carry it (the header
// "Authorization: Bearer TOKEN", the header X-Kestrune-Token or ?token=).
#pragma once

#include "line/LineDatabase.h"

#include <chrono>
#include <memory>
#include <string>

namespace httplib {
class Server;
}

namespace kestrune::line {

struct LineServerOptions {
  std::string Host = "127.0.0.1";
  int Port = 8080; // 0: any free port
  std::string Token;
  std::chrono::seconds OfflineAfter{10};
  int ShiftHours = 8; // the hourly chart's span, and the default time range
};

class LineServer {
public:
  LineServer(LineDatabase &database, LineServerOptions options);
  ~LineServer();
  LineServer(const LineServer &) = delete;
  LineServer &operator=(const LineServer &) = delete;

  // Binds; false with why when the address cannot be had.
  bool Bind(std::string &why);
  // The port bound (the one chosen when 0 was asked for).
  int BoundPort() const { return Port; }
  // Serves until Stop, on the calling thread.
  void Serve();
  // Any thread.
  void Stop();

private:
  void Routes();

  LineDatabase &Database;
  LineServerOptions Options;
  std::unique_ptr<httplib::Server> Http;
  int Port = 0;
};

// Equal texts, in a time that does not tell how much of them matched.
bool SameToken(const std::string &given, const std::string &wanted);

} // namespace kestrune::line
