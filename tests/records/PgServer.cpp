#include "tests/records/PgServer.h"

#include <pqxx/pqxx>

#include <arpa/inet.h>
#include <signal.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kestrune::records::test {
namespace {

// A port nobody listens on at this moment.
int FreePort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(s, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
    close(s);
    return 0;
  }
  close(s);
  return ntohs(address.sin_port);
}

} // namespace

std::string PgServer::BinDir() {
  std::error_code ignored;
  std::string best;
  for (const auto &entry :
       std::filesystem::directory_iterator("/usr/lib/postgresql", ignored)) {
    auto bin = entry.path() / "bin";
    if (std::filesystem::exists(bin / "initdb", ignored) &&
        std::filesystem::exists(bin / "pg_ctl", ignored))
      best = std::max(best, bin.string());
  }
  return best;
}

PgServer::PgServer() : Bin(BinDir()) {
  std::string pattern = (std::filesystem::temp_directory_path() / "kestrune-pg-XXXXXX").string();
  if (!mkdtemp(pattern.data()))
    throw std::runtime_error("mkdtemp");
  Dir = pattern;
  // The server runs as nobody when the test runs as root.
  if (geteuid() == 0) {
    if (passwd *nobody = getpwnam("nobody"))
      if (chown(Dir.c_str(), nobody->pw_uid, nobody->pw_gid) != 0)
        Why = "cannot hand the server's folder to nobody";
  }
  Port = FreePort();
}

PgServer::~PgServer() {
  Stop();
  std::error_code ignored;
  std::filesystem::remove_all(Dir, ignored);
}

bool PgServer::Run(const std::string &command) {
  std::string full = (geteuid() == 0 ? "runuser -u nobody -- " : "") + command + " >>'" +
                     (Dir / "commands.log").string() + "' 2>&1";
  if (std::system(full.c_str()) == 0)
    return true;
  Why = "failed: " + command + " (see " + (Dir / "commands.log").string() + ")";
  return false;
}

bool PgServer::Start() {
  if (Bin.empty()) {
    Why = "the PostgreSQL server programs are not installed";
    return false;
  }
  const std::string data = (Dir / "data").string();
  if (!Created) {
    if (!Run("'" + Bin + "/initdb' --no-sync --auth=trust --username=kestrune --encoding=UTF8 "
             "--locale=C -D '" + data + "'"))
      return false;
    Created = true;
  }
  const std::string options = "-p " + std::to_string(Port) + " -k '" + Dir.string() +
                              "' -c listen_addresses=127.0.0.1 -c fsync=off -c max_connections=60";
  if (!Run("'" + Bin + "/pg_ctl' -w -t 60 -D '" + data + "' -l '" + (Dir / "server.log").string() +
           "' -o \"" + options + "\" start"))
    return false;
  Running = true;
  return true;
}

void PgServer::Stop() {
  if (!Running)
    return;
  SignalAll(SIGCONT); // a paused server could not stop
  Run("'" + Bin + "/pg_ctl' -w -t 60 -m fast -D '" + (Dir / "data").string() + "' stop");
  Running = false;
}

std::vector<int> PgServer::Processes() const {
  std::ifstream pidFile(Dir / "data" / "postmaster.pid");
  int postmaster = 0;
  if (!(pidFile >> postmaster) || postmaster <= 0)
    return {};
  std::vector<int> out{postmaster};
  std::error_code ignored;
  for (const auto &entry : std::filesystem::directory_iterator("/proc", ignored)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos)
      continue;
    // The parent is the fourth field of stat, after the name in brackets.
    // A process may end between the listing and the read; the stream then
    // reads nothing (read through the stream, whose failure is a state,
    // never through its buffer, which throws).
    std::ifstream stat(entry.path() / "stat");
    std::string text;
    std::getline(stat, text);
    const size_t close = text.rfind(')');
    if (close == std::string::npos)
      continue;
    std::istringstream fields(text.substr(close + 1));
    std::string state;
    int parent = 0;
    if (fields >> state >> parent && parent == postmaster)
      out.push_back(std::stoi(name));
  }
  return out;
}

bool PgServer::SignalAll(int signal) {
  std::vector<int> processes = Processes();
  if (processes.empty()) {
    Why = "no server processes found";
    return false;
  }
  // Stopped, the postmaster first: it starts no new child meanwhile; let go
  // on, the postmaster last. A child that has ended meanwhile is no fault.
  if (signal != SIGSTOP)
    std::reverse(processes.begin(), processes.end());
  for (int pid : processes)
    if (::kill(pid, signal) != 0 && errno != ESRCH) {
      Why = "cannot signal process " + std::to_string(pid);
      return false;
    }
  return true;
}

bool PgServer::Pause() { return Running && SignalAll(SIGSTOP); }

bool PgServer::Resume() { return Running && SignalAll(SIGCONT); }

std::string PgServer::Url() const {
  return "postgresql://kestrune@127.0.0.1:" + std::to_string(Port) + "/postgres";
}

std::string PgScalar(const std::string &url, const std::string &sql) {
  pqxx::connection connection(url);
  pqxx::nontransaction work(connection);
  pqxx::result rows = work.exec(sql);
  if (rows.empty() || rows[0][0].is_null())
    return "";
  return rows[0][0].as<std::string>();
}

} // namespace kestrune::records::test
