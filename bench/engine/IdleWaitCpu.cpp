// How much CPU a channel uses while it waits on a silent line: first while
// it calls a boot ROM that never answers, then while it waits for
// identification bytes that never come. Prints the share of one core.
#include "engine/CommsThread.h"
#include "engine/GuiCallQueue.h"
#include "tests/support/Pty.h"
#include "tests/support/TestPanel.h"

#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

using namespace kestrune;
using namespace std::chrono;

namespace {

double CpuSeconds(int who = RUSAGE_SELF) {
  rusage usage{};
  getrusage(who, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Drains the master side; answers the boot ROM call and the RAM program when
// told to, and is silent otherwise.
void ServeLine(int master, std::atomic<bool> &answer, std::atomic<bool> &quit,
               std::atomic<double> &lineCpu) {
  size_t afterC = 0;
  bool answeredC = false;
  for (;; lineCpu = CpuSeconds(RUSAGE_THREAD)) {
    if (quit)
      return;
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0)
      continue;
    uint8_t buffer[8192];
    ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0)
      return;
    if (!answer)
      continue;
    if (!answeredC) {
      uint8_t c = 0x43;
      (void)!write(master, &c, 1);
      answeredC = true;
      continue;
    }
    afterC += size_t(n);
    if (afterC >= 13 + 5888 && afterC - size_t(n) < 13 + 5888) {
      uint8_t ack = 0x21;
      (void)!write(master, &ack, 1);
    }
  }
}

// The share of one core the process used, less the simulated line's own.
double MeasureShare(test::WorkerHarness &h, seconds length, std::atomic<double> &lineCpu) {
  double cpu0 = CpuSeconds() - lineCpu;
  auto t0 = steady_clock::now();
  h.Queue.ServeUntil([] { return false; }, duration_cast<milliseconds>(length));
  double cpu = CpuSeconds() - lineCpu - cpu0;
  return cpu / duration<double>(steady_clock::now() - t0).count();
}

} // namespace

int main() {
  for (bool answer : {false, true}) {
    test::Pty pty;
    std::atomic<bool> answering{answer}, quit{false};
    std::atomic<double> lineCpu{0};
    std::thread line(ServeLine, pty.Master(), std::ref(answering), std::ref(quit),
                     std::ref(lineCpu));
    {
      test::WorkerHarness h;
      test::TestPanel &panel = h.AddPanel(pty.SlavePath());
      h.Start(1);
      const char *phase = answer ? "Waiting for man ID and device ID" : "전원 On/Reset Mobile";
      h.ServeUntil([&] { return panel.Saw(phase); }, seconds(10));
      h.ServeUntil([] { return false; }, milliseconds(200));
      double share = MeasureShare(h, seconds(5), lineCpu);
      std::printf("%-40s %.2f%% of one core\n",
                  answer ? "silent line, identification wait:" : "silent line, boot ROM call:",
                  share * 100);
    }
    quit = true;
    line.join();
  }
}
