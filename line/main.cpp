// kestrune-line: the line's dashboard. Reads the line's server only, and
// serves a web page and a JSON API of every station's channels, yields,
// failures, units per hour and a search by serial value or record id.
#include "line/LineDatabase.h"
#include "line/LineServer.h"
#include "line/ListenAddress.h"
#include "records/ServerAddress.h"

#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <thread>

using namespace kestrune;

namespace {

constexpr int UsageError = 2;

int Usage(const std::string &message) {
  std::cerr << "kestrune-line: " << message << "\nRun 'kestrune-line --help' for usage.\n";
  return UsageError;
}

} // namespace

int main(int argc, char **argv) {
  CLI::App app{"Serves the line's dashboard: every station's channels, yields, failures and "
               "units per hour, read from the line's records server.",
               "kestrune-line"};
  std::string url;
  std::string listen = "127.0.0.1:8080";
  std::string token;
  int offlineAfter = 10;
  int shiftHours = 8;
  app.add_option("--records", url, "The line's server: a postgresql:// URL or libpq's "
                                   "host=... dbname=... form")
      ->required();
  app.add_option("--listen", listen,
                 "HOST:PORT to serve on (default 127.0.0.1:8080, this machine only); any other "
                 "address needs --token");
  app.add_option("--token", token, "The access token every request must carry (default: the "
                                   "environment's KESTRUNE_LINE_TOKEN)");
  app.add_option("--offline-after", offlineAfter,
                 "Seconds without a state write after which a station counts as offline "
                 "(default 10)")
      ->check(CLI::Range(3, 3600));
  app.add_option("--shift-hours", shiftHours,
                 "Hours of the units-per-hour chart and of the counts without a time range "
                 "(default 8)")
      ->check(CLI::Range(1, 168));
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp &e) {
    return app.exit(e);
  } catch (const CLI::ParseError &e) {
    return Usage(e.what());
  }
  if (token.empty())
    if (const char *fromEnvironment = std::getenv("KESTRUNE_LINE_TOKEN"))
      token = fromEnvironment;
  if (!records::IsServerUrl(url))
    return Usage("--records '" + records::WithoutPassword(url, url) +
                 "' is not a server address (use postgresql://...)");
  if (std::string problem = records::ServerAddressProblem(url); !problem.empty())
    return Usage("--records: " + problem);
  auto address = line::ParseListenAddress(listen);
  if (!address)
    return Usage("--listen '" + listen + "' is not HOST:PORT");
  if (!line::IsLoopback(address->Host) && token.empty())
    return Usage("--listen " + listen + " serves the line's network: set an access token "
                 "(--token or KESTRUNE_LINE_TOKEN)");

  line::LineDatabase database(url);
  line::LineServer server(database, {address->Host, address->Port, token,
                                     std::chrono::seconds(offlineAfter), shiftHours});
  std::string why;
  if (!server.Bind(why)) {
    std::cerr << "kestrune-line: " << why << '\n';
    return 1;
  }
  // SIGINT and SIGTERM end the serving; they are taken on a thread of
  // their own, blocked everywhere else.
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  sigaddset(&stops, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  std::thread waiter([&] {
    int signal = 0;
    sigwait(&stops, &signal);
    server.Stop();
  });
  std::cout << "kestrune-line: serving http://" << address->Host << ":" << server.BoundPort()
            << "/ from " << database.ShownAddress() << std::endl;
  server.Serve();
  // Ended by other means than a signal: the waiter is let go by one.
  pthread_kill(waiter.native_handle(), SIGTERM);
  waiter.join();
  return 0;
}
