// Starts kestrune-cli as a child process of the test, its standard output
// and error in one file; the test waits for it or kills it.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace kestrune::testing {

// dataHome, when given, becomes the child's XDG_DATA_HOME (its own station
// database and ledger).
inline pid_t StartCli(const std::vector<std::string> &args, const std::string &outPath,
                      const std::string &dataHome = "") {
  pid_t pid = fork();
  if (pid != 0)
    return pid;
  if (!dataHome.empty())
    setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
  if (FILE *out = fopen(outPath.c_str(), "w")) {
    dup2(fileno(out), 1);
    dup2(fileno(out), 2);
  }
  std::vector<char *> argv{const_cast<char *>(KESTRUNE_CLI)};
  for (const std::string &a : args)
    argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  execv(KESTRUNE_CLI, argv.data());
  _exit(127);
}

} // namespace kestrune::testing
