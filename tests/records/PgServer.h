// A private PostgreSQL server for one test: a new cluster in a temporary
// folder, listening on 127.0.0.1 at a free port, run as an unprivileged
// user (the server refuses root), removed at the end.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kestrune::records::test {

class PgServer {
public:
  // The folder of Debian's PostgreSQL programs; empty when not installed.
  static std::string BinDir();

  PgServer();
  ~PgServer();
  PgServer(const PgServer &) = delete;
  PgServer &operator=(const PgServer &) = delete;

  // Creates the cluster on first use, then starts the server; false with
  // Error() set.
  bool Start();
  void Stop();
  // Every process of the running server stopped (SIGSTOP) or let go on
  // (SIGCONT): the server then holds its connections and answers nothing.
  bool Pause();
  bool Resume();
  std::string Url() const;
  const std::string &Error() const { return Why; }

private:
  bool Run(const std::string &command);
  // The postmaster's number from its pid file, and its children's.
  std::vector<int> Processes() const;
  bool SignalAll(int signal);

  std::filesystem::path Dir;
  std::string Bin;
  int Port = 0;
  bool Created = false;
  bool Running = false;
  std::string Why;
};

// Runs one SQL query as the test's user and returns the first column of the
// first row ("" when there is none).
std::string PgScalar(const std::string &url, const std::string &sql);

} // namespace kestrune::records::test
