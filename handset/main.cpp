// kestrune-handset: a virtual handset on a pseudo-terminal or a serial
// device. With --pty the slave's path is the first line on stdout.
#include "handset/CommandLine.h"
#include "handset/VirtualHandset.h"

#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <thread>

using namespace kestrune::handset;

int main(int argc, char **argv) {
  CommandLine line;
  int code = ParseCommandLine(argc, argv, line);
  if (code >= 0)
    return code;

  // Signals go to one thread that stops the handset; every other thread,
  // the handset's included, has them blocked.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  VirtualHandset handset(line.Options);
  bool started = line.UsePty ? handset.StartOnPty() : handset.StartOnDevice(line.DevicePath);
  if (!started) {
    std::fprintf(stderr, "kestrune-handset: %s\n", handset.ErrorText().c_str());
    return 1;
  }
  if (line.UsePty) {
    std::printf("%s\n", handset.DevicePath().c_str());
    std::fflush(stdout);
  }
  std::thread([&handset, stopSignals] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    handset.Stop();
  }).detach();

  while (!handset.WaitUntilStopped(std::chrono::hours(24))) {
  }
  std::string error = handset.ErrorText();
  handset.Stop();
  if (!error.empty()) {
    std::fprintf(stderr, "kestrune-handset: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
