// A USB hub station: 32 channels at once, each with a virtual handset paced
// at the line rate (--realtime, host-code model, instant flash), against one
// channel alone.
//
//   bench_scale_throughput [CHANNELS] [MIB_EACH]
//
// CHANNELS defaults to 32, MIB_EACH (the image each channel sends) to 1.
// Prints one channel's programming throughput, the channels' aggregate
// (every channel's image over the span from the first "Starting flash
// write" to the last verdict) against CHANNELS times one channel's, and
// kestrune-cli's CPU time over its whole run in percent of one core, the
// handsets' CPU time, and the machine's load average before and after.
#include "bench/engine/CliRun.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <stdlib.h>
#include <sys/resource.h>

namespace fs = std::filesystem;
using namespace kestrune::bench;

namespace {

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

// CPU seconds of every child that has been waited for.
double ChildrenCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char **argv) {
  const int channels = argc > 1 ? std::atoi(argv[1]) : 32;
  const size_t each = size_t(argc > 2 ? std::atof(argv[2]) * 1048576 : 1048576);
  std::printf("load average before: %s\n", LoadAverage().c_str());
  char pattern[] = "/tmp/kestrune-scale-XXXXXX";
  fs::path dir = mkdtemp(pattern);
  std::string image = MakeImage(dir, each);

  double single = 0;
  {
    Handsets handsets(1, "host");
    Outcome o = RunCli(image, handsets.Ports);
    ChannelTimes &c = o.Channels[1];
    if (!c.Completed) {
      std::printf("one channel did not complete (exit %d)\n", o.ExitCode);
      return 1;
    }
    single = double(each) / Seconds(c.Start, c.End);
    std::printf("one channel: %.2f MiB in %.3f s programming (wire time %.3f s): %.1f KiB/s\n",
                double(each) / 1048576, Seconds(c.Start, c.End), WireSeconds(each, 921600),
                single / 1024);
  }

  const double childrenBefore = ChildrenCpuSeconds();
  Outcome o;
  {
    Handsets handsets(channels, "host");
    o = RunCli(image, handsets.Ports);
  }
  const double handsetCpu = ChildrenCpuSeconds() - childrenBefore - o.CpuSeconds;
  Clock::time_point first = Clock::time_point::max(), last = Clock::time_point::min();
  int completed = 0;
  double slowest = 0;
  for (auto &[channel, c] : o.Channels) {
    if (!c.Completed)
      continue;
    ++completed;
    first = std::min(first, c.Start);
    last = std::max(last, c.End);
    slowest = std::max(slowest, Seconds(c.Start, c.End));
  }
  if (completed == 0) {
    std::printf("no channel completed (exit %d)\n", o.ExitCode);
    return 1;
  }
  double streaming = Seconds(first, last);
  double aggregate = double(completed) * double(each) / streaming;
  double bar = 0.95 * channels * single;
  std::printf("%d channels: %d completed; aggregate %.1f KiB/s over %.3f s (slowest channel "
              "%.3f s) = %.2f times one channel; bar 0.95 x %d = %.2f times: %s\n",
              channels, completed, aggregate / 1024, streaming, slowest, aggregate / single,
              channels, 0.95 * channels, aggregate >= bar ? "met" : "missed");
  double cpu = 100 * o.CpuSeconds / o.WallSeconds;
  std::printf("kestrune-cli CPU: %.2f s over %.2f s run = %.1f%% of one core; bar 50%%: %s\n",
              o.CpuSeconds, o.WallSeconds, cpu, cpu < 50 ? "met" : "missed");
  std::printf("the %d handsets' CPU: %.2f s (%.1f%% of one core over the run)\n", channels,
              handsetCpu, 100 * handsetCpu / o.WallSeconds);
  std::printf("load average after: %s\n", LoadAverage().c_str());
  fs::remove_all(dir);
  return completed == channels ? 0 : 1;
}
