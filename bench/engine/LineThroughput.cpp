// Line efficiency and eight-channel scaling, with virtual handsets paced at
// the real line rate (--realtime, 8N2: 11 bits a byte) and instant flash.
//
//   bench_line_throughput [MIB_ONE] [MIB_EACH_OF_EIGHT] [MODEL]
//
// MODEL is the handsets' RAM program model, "host" (default: the handsets
// cost next to no CPU, so the host side is what is measured) or "arm" (each
// handset runs the real RAM program on an emulated core).
//
// 1. One channel sends an image of MIB_ONE MiB (default 2) at 921600 baud:
//    the programming phase ("Starting flash write" to the verdict) against
//    the time its bytes need on the wire.
// 2. Eight channels send MIB_EACH_OF_EIGHT MiB (default 1) each, and, in the
//    same run, one channel alone: aggregate throughput against one channel's,
//    and the CPU share of kestrune-cli while the eight stream.
#include "bench/engine/CliRun.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <stdlib.h>

namespace fs = std::filesystem;
using namespace kestrune::bench;

int main(int argc, char **argv) {
  std::string model = "host";
  size_t oneMiB = size_t(argc > 1 ? std::atof(argv[1]) * 1048576 : 2 * 1048576);
  size_t eachMiB = size_t(argc > 2 ? std::atof(argv[2]) * 1048576 : 1 * 1048576);
  if (argc > 3)
    model = argv[3];
  std::printf("handsets: --realtime --model %s\n", model.c_str());
  char pattern[] = "/tmp/kestrune-bench-XXXXXX";
  fs::path dir = mkdtemp(pattern);
  const uint32_t baud = 921600;

  {
    std::string image = MakeImage(dir, oneMiB);
    Handsets handsets(1, model);
    Outcome o = RunCli(image, handsets.Ports);
    ChannelTimes &c = o.Channels[1];
    if (!c.Completed) {
      std::printf("single channel did not complete (exit %d)\n", o.ExitCode);
      return 1;
    }
    double took = Seconds(c.Start, c.End), wire = WireSeconds(oneMiB, baud);
    std::printf("line efficiency: %.2f MiB at %u baud 8N2: %.3f s programming, %.3f s on the "
                "wire, ratio %.4f\n",
                double(oneMiB) / 1048576, baud, took, wire, took / wire);
  }

  std::string image = MakeImage(dir, eachMiB);
  double single = 0;
  {
    Handsets handsets(1, model);
    Outcome o = RunCli(image, handsets.Ports);
    ChannelTimes &c = o.Channels[1];
    single = double(eachMiB) / Seconds(c.Start, c.End);
  }
  Handsets handsets(8, model);
  Outcome o = RunCli(image, handsets.Ports);
  Clock::time_point first = Clock::time_point::max(), last = Clock::time_point::min();
  int completed = 0;
  for (auto &[channel, c] : o.Channels) {
    completed += c.Completed;
    first = std::min(first, c.Start);
    last = std::max(last, c.End);
  }
  double streaming = Seconds(first, last);
  double aggregate = 8.0 * double(eachMiB) / streaming;
  std::printf("eight channels: %d of 8 completed; one channel %.1f KiB/s, eight together %.1f "
              "KiB/s aggregate: %.2f times one channel\n",
              completed, single / 1024, aggregate / 1024, aggregate / single);
  std::printf("kestrune-cli CPU: %.2f s over %.2f s run (%.1f%% of one core; streaming phase "
              "%.2f s)\n",
              o.CpuSeconds, o.WallSeconds, 100 * o.CpuSeconds / o.WallSeconds, streaming);
  fs::remove_all(dir);
  return completed == 8 ? 0 : 1;
}
