// A private server, a station folder of its own, and the command-line
// program started with its output in a file: what the tests against the
// line's server share.
#pragma once

#include "records/SqliteStore.h"
#include "tests/records/PgServer.h"
#include "tests/records/RecordsTestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace kestrune::records::test {

using namespace std::chrono;

class PgForward : public ::testing::Test {
protected:
  void SetUp() override {
    if (PgServer::BinDir().empty())
      GTEST_SKIP() << "PostgreSQL server programs (initdb, pg_ctl under /usr/lib/postgresql) "
                      "are not installed; install the Debian package postgresql";
    setenv("XDG_DATA_HOME", Dir.Path().c_str(), 1);
    Server = std::make_unique<PgServer>();
    ASSERT_TRUE(Server->Start()) << Server->Error();
    Url = Server->Url();
  }

  std::string LocalPath() const { return Dir.File("Orv/Kestrune/records.sqlite"); }

  int ServerCount(const std::string &where = "true") {
    try {
      std::string n = PgScalar(Url, "SELECT count(*) FROM kestrune_records WHERE " + where);
      return std::stoi(n);
    } catch (const std::exception &) {
      return -1; // no table yet, or no server
    }
  }

  bool WaitForServerCount(int count, seconds timeout) {
    auto until = steady_clock::now() + timeout;
    while (steady_clock::now() < until) {
      if (ServerCount() == count)
        return true;
      std::this_thread::sleep_for(milliseconds(50));
    }
    return false;
  }

  int LocalPending() {
    std::string why;
    auto store = SqliteStore::Open(LocalPath(), why);
    std::vector<Record> pending;
    if (!store || !store->Pending(1'000'000, pending, why))
      return -1;
    return int(pending.size());
  }

  // Starts the command-line program; its output goes to a file.
  pid_t Spawn(std::vector<std::string> args, const std::string &outName) {
    std::string out = Dir.File(outName);
    pid_t pid = fork();
    if (pid == 0) {
      int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(fd, STDOUT_FILENO);
      dup2(fd, STDERR_FILENO);
      std::vector<char *> argv{const_cast<char *>(KESTRUNE_CLI)};
      for (auto &a : args)
        argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(KESTRUNE_CLI, argv.data());
      _exit(127);
    }
    return pid;
  }
  static int Wait(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Output(const std::string &name) {
    std::ifstream in(Dir.File(name));
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::string WriteImage(size_t size) {
    std::string path = Dir.File("image.bin");
    std::ofstream out(path, std::ios::binary);
    for (size_t i = 0; i < size; ++i)
      out.put(char(i * 13 + 1));
    return path;
  }

  TempDir Dir;
  std::unique_ptr<PgServer> Server;
  std::string Url;
};

} // namespace kestrune::records::test
